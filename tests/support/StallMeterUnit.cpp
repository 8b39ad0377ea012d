// TStallMeter: the beat window on the watched thread and the watchdog thread that posts to it.
#include "support/StallMeterUnit.h"

#include <algorithm>

#include "support/TestThreadUnit.h"

namespace zorbex::test {
namespace {

constexpr UINT kBeatMessage = WM_APP + 0x3A1;
const wchar_t kBeatClass[] = L"ZorbexStallMeterBeat";

LONGLONG Now() {
    LARGE_INTEGER counter{};
    ::QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

double Milliseconds(LONGLONG ticks) {
    LARGE_INTEGER frequency{};
    ::QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(ticks) / static_cast<double>(frequency.QuadPart);
}

} // namespace

TStallMeter::TStallMeter() {
    static const ATOM registered = [] {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = &TStallMeter::BeatProc;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.lpszClassName = kBeatClass;
        return ::RegisterClassW(&windowClass);
    }();
    if (!registered)
        return;
    Window = ::CreateWindowExW(0, kBeatClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               ::GetModuleHandleW(nullptr), nullptr);
    Taken = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!Window || !Taken)
        return;
    ::SetWindowLongPtrW(Window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    Watchdog = std::make_unique<TTestThread>([this] { RunWatchdog(); });
}

TStallMeter::~TStallMeter() {
    Stopping = true;
    if (Taken)
        ::SetEvent(Taken);
    Watchdog.reset();
    if (Window)
        ::DestroyWindow(Window);
    if (Taken)
        ::CloseHandle(Taken);
}

double TStallMeter::Watch(const std::function<void()>& action) {
    Longest = 0;
    ArmedAt = Now();
    Armed = true;
    action();
    // A beat still waiting waited through the end of the action.
    if (const LONGLONG posted = PostedAt.load())
        Observe(posted, Now());
    Armed = false;
    return Milliseconds(Longest);
}

LRESULT CALLBACK TStallMeter::BeatProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kBeatMessage)
        return ::DefWindowProcW(window, message, wParam, lParam);
    if (auto* meter = reinterpret_cast<TStallMeter*>(::GetWindowLongPtrW(window, GWLP_USERDATA)))
        meter->Beat();
    return 0;
}

void TStallMeter::Beat() {
    const LONGLONG now = Now();
    if (const LONGLONG posted = PostedAt.exchange(0))
        Observe(posted, now);
    ::SetEvent(Taken);
}

void TStallMeter::Observe(LONGLONG posted, LONGLONG now) {
    if (Armed)
        Longest = std::max(Longest, now - std::max(posted, ArmedAt));
}

void TStallMeter::RunWatchdog() {
    while (!Stopping) {
        PostedAt = Now();
        if (!::PostMessageW(Window, kBeatMessage, 0, 0))
            break;
        while (!Stopping && ::WaitForSingleObject(Taken, 50) == WAIT_TIMEOUT) {
        }
        ::Sleep(1);
    }
}

} // namespace zorbex::test
