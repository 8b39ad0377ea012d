// GoogleTest's Notification on Win32 events. GoogleTest builds its own on std::mutex, which the win32
// threading model of our toolchains does not have; with GTEST_HAS_NOTIFICATION_ set it takes this one,
// included into every translation unit of GoogleTest and the tests before its headers.
#pragma once

#include <windows.h>

namespace testing::internal {

class Notification {
public:
    Notification() : Event(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;
    ~Notification() {
        if (Event)
            ::CloseHandle(Event);
    }
    void Notify() { ::SetEvent(Event); }
    void WaitForNotification() { ::WaitForSingleObject(Event, INFINITE); }

private:
    HANDLE Event;
};

} // namespace testing::internal
