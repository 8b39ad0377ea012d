// TToolbarDM: the main toolbar form's four message timers, created stopped. The form attaches its
// handlers at creation; the timers stop for good when the data module is freed with the form.
#pragma once

#include "ui/FormsUnit.h"

namespace zorbex {

class TToolbarDM {
public:
    static constexpr UINT kHintPause = 500;         // before a button hint shows
    static constexpr UINT kHintHidePause = 2500;    // while a button hint shows
    static constexpr UINT kWatchInterval = 100;     // how often the hover watches look at the mouse

    explicit TToolbarDM(TForm& owner)
        : RefreshTimer(owner, 500, nullptr), SpyHintTimer(owner, kWatchInterval, nullptr),
          CommonHintTimer(owner, kHintPause, nullptr), CardHintTimer(owner, kWatchInterval, nullptr) {}

    TTimer RefreshTimer; // alternates the image of the hidden versions button; nothing starts it
    TTimer SpyHintTimer;
    TTimer CommonHintTimer;
    TTimer CardHintTimer;
};

} // namespace zorbex
