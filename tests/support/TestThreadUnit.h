// A thread of the tests, joined when it goes out of scope. The library and its tests are built with the
// win32 thread model, which has no std::thread; this is the little of it the tests need.
#pragma once

#include <windows.h>

#include <exception>
#include <functional>
#include <utility>

namespace zorbex::test {

class TTestThread {
public:
    explicit TTestThread(std::function<void()> body) : Body(std::move(body)) {
        Handle = ::CreateThread(nullptr, 0, &TTestThread::Run, this, 0, nullptr);
        if (!Handle)
            std::terminate();
    }
    TTestThread(const TTestThread&) = delete;
    TTestThread& operator=(const TTestThread&) = delete;
    ~TTestThread() { Join(); }

    void Join() noexcept {
        if (!Handle)
            return;
        ::WaitForSingleObject(Handle, INFINITE);
        ::CloseHandle(Handle);
        Handle = nullptr;
    }

private:
    static DWORD WINAPI Run(void* self) noexcept {
        static_cast<TTestThread*>(self)->Body();
        return 0;
    }

    std::function<void()> Body;
    HANDLE Handle = nullptr;
};

} // namespace zorbex::test
