// TTimeBudget: how long one message may spend on work whose length another process decides (reading the
// quick groups, a group's links, the ratings' colours, the domain links' pictures). Work that finds its
// budget spent stops at the next step it can resume from, or goes on in a later message, so the browser's
// thread takes its next message in time however many answers the application gives. The budget is looked
// at between calls: one call that the application does not answer holds the thread until it answers or
// its process ends (README.md, "When the application hangs").
#pragma once

#include <chrono>

namespace zorbex {

class TTimeBudget {
public:
    using TClock = std::chrono::steady_clock;

    // The stretch every such loop of the toolbars allows itself within one message.
    static constexpr std::chrono::milliseconds kPerMessage{200};

    explicit TTimeBudget(std::chrono::milliseconds length = kPerMessage) : End(TClock::now() + length) {}

    bool Spent() const { return TClock::now() >= End; }

private:
    TClock::time_point End;
};

} // namespace zorbex
