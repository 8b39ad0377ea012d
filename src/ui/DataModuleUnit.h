// TGUIDataModule: the engine behind one link-hint automation object.
//
// It owns the hint window (THintForm) and a one-shot timer on it, remembers where the pointer is and
// which URL it rests on, asks the Keptor application how the hint should behave (GetHintSettings:
// alpha, show delay, hide delay), and shows the application's picture of that URL after the show
// delay, for the hide delay. One request shows its picture at most once: the server is held from the
// request until the next tick. Nothing is ever reported: any failure leaves the hint hidden.
//
// The tick may call into another process, which lets messages through; the data module may be freed
// or asked again meanwhile. The window outlives such a tick (it is held while it handles the timer
// message), and the tick shows nothing unless the request it started with is still the current one.
#pragma once

#include <windows.h>
#include <wrl/client.h>

#include <memory>
#include <string>

#include "com/ZorbexGUI_TLB.h"
#include "ui/FormsUnit.h"
#include "ui/HintFormUnit.h"

namespace zorbex {

class TGUIDataModule {
public:
    // The delays the application may ask for are kept within these bounds (milliseconds): a negative
    // delay is none, and no hint waits or stays longer than a minute.
    static constexpr LONG kMaxDelay = 60000;

    TGUIDataModule();
    TGUIDataModule(const TGUIDataModule&) = delete;
    TGUIDataModule& operator=(const TGUIDataModule&) = delete;
    ~TGUIDataModule();

    // From MouseOverLink: remembers the point and the URL, asks the server for its hint settings and
    // starts the timer with the show delay. The window handle is accepted and not used.
    void ShowLinkHint(HWND window, LONG x, LONG y, const std::wstring& url, IUnknown* server) noexcept;
    // From MouseMove: the point where a pending hint will show (a shown hint does not move).
    void MoveLinkHint(LONG x, LONG y) noexcept;
    // From MouseOutLink: releases the server, stops the timer, hides the window.
    void HideLinkHint() noexcept;
    // The timer's tick: shows the picture of a pending request, or hides a shown hint.
    void Tick() noexcept;

private:
    // The test seam: the timer and the held server, which the hint window does not show.
    friend class TGUIDataModuleProbe;

    static UINT BoundedDelay(LONG delay);

    bool IsShowing = false;
    TFormPtr<THintForm> HintForm;
    POINT HintPoint{};
    std::wstring HintUrl;
    LONG HintAlpha = -1;
    UINT ShowPause = 0;
    UINT HidePause = 0;
    Microsoft::WRL::ComPtr<IGUIServer> Server;
    // Counts the requests and hidings: a tick shows its picture only while its request is current.
    unsigned Request = 0;
    // The window's timer reaches the module through this link, cleared when the module goes.
    std::shared_ptr<TGUIDataModule*> Link;
};

} // namespace zorbex
