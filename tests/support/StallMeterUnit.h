// How long the calling thread holds on to one message: the longest stretch in which it takes nothing
// from its queue. A watchdog thread posts a beat to a window of the watched thread, one at a time, and
// notes how long each waits to be taken. A modal loop (a menu's) takes beats as the thread's own loop
// does, so the time a person spends in an open menu is not counted; a handler that runs on, or a call to
// another process that it waits for, keeps the beat waiting and is counted. Free of any test framework:
// the benchmarks use it too.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>

namespace zorbex::test {

class TTestThread;

class TStallMeter {
public:
    // Starts the watchdog for the calling thread, which must pump messages while it is watched.
    TStallMeter();
    TStallMeter(const TStallMeter&) = delete;
    TStallMeter& operator=(const TStallMeter&) = delete;
    ~TStallMeter();

    // Runs the action, watched; returns the longest stretch, in milliseconds, in which the thread took no
    // message while the action ran (a beat still waiting when the action ends counts up to its end).
    double Watch(const std::function<void()>& action);

private:
    static LRESULT CALLBACK BeatProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Beat();
    void Observe(LONGLONG posted, LONGLONG now);
    void RunWatchdog();

    HWND Window = nullptr;
    HANDLE Taken = nullptr; // set when the thread has taken the last beat
    std::atomic<bool> Stopping{false};
    std::atomic<LONGLONG> PostedAt{0}; // of the beat on its way; 0 while none is
    bool Armed = false;
    LONGLONG ArmedAt = 0;
    LONGLONG Longest = 0;
    std::unique_ptr<TTestThread> Watchdog;
};

} // namespace zorbex::test
