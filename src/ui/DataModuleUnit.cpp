// TGUIDataModule.
#include "ui/DataModuleUnit.h"

#include <algorithm>

#include "com/ErrorsUnit.h"
#include "page/ServerImageUnit.h"
#include "ui/HintDesktopUnit.h"

using Microsoft::WRL::ComPtr;

namespace zorbex {

TGUIDataModule::TGUIDataModule() : HintForm(THintForm::Create()), Link(std::make_shared<TGUIDataModule*>(this)) {
    // The timer stays stopped until a request.
    HintForm->Timer().SetOnTimer([link = Link] {
        if (TGUIDataModule* module = *link)
            module->Tick();
    });
}

TGUIDataModule::~TGUIDataModule() {
    *Link = nullptr;
    // Closing stops the timer and destroys the window; a window still handling its tick is deleted
    // when the tick returns.
    HintForm.reset();
}

UINT TGUIDataModule::BoundedDelay(LONG delay) {
    return static_cast<UINT>(std::clamp<LONG>(delay, 0, kMaxDelay));
}

void TGUIDataModule::ShowLinkHint(HWND, LONG x, LONG y, const std::wstring& url, IUnknown* server) noexcept {
    const bool asked = Guarded([&] {
        ++Request;
        HintPoint = POINT{x, y};
        HintUrl = url;
        Server.Reset();
        if (!server || FAILED(server->QueryInterface(IID_PPV_ARGS(&Server))) || !Server)
            return;
        // The call may let messages through: the module may be asked again or freed meanwhile.
        const ComPtr<IGUIServer> asking = Server;
        const auto link = Link;
        const unsigned request = Request;
        LONG alpha = -1, showDelay = 0, hideDelay = 0;
        const HRESULT result = asking->GetHintSettings(&alpha, &showDelay, &hideDelay);
        if (*link != this || request != Request)
            return;
        OleCheck(result);
        HintAlpha = alpha;
        ShowPause = BoundedDelay(showDelay);
        HidePause = BoundedDelay(hideDelay);
        HintForm->Timer().SetInterval(ShowPause);
        HintForm->Timer().Start();
    });
    if (!asked)
        Server.Reset(); // no tick is coming for this request: nothing to hold the server for
}

void TGUIDataModule::MoveLinkHint(LONG x, LONG y) noexcept {
    HintPoint = POINT{x, y};
}

void TGUIDataModule::HideLinkHint() noexcept {
    ++Request;
    Server.Reset();
    if (HintForm) {
        HintForm->Timer().Stop();
        HintForm->HideHint();
    }
    IsShowing = false;
}

void TGUIDataModule::Tick() noexcept {
    if (!HintForm)
        return;
    HintForm->Timer().Stop();
    if (IsShowing) {
        HideLinkHint();
        return;
    }
    // Released in every case: one request shows its picture at most once.
    const ComPtr<IGUIServer> server = std::move(Server);
    if (!server)
        return;
    Guarded([&] {
        const auto link = Link;
        const unsigned request = Request;
        const std::wstring url = HintUrl;
        TBitmap picture;
        const bool found = GetServerImage(server.Get(), url, -1, false, picture);
        if (*link != this || request != Request)
            return; // freed, hidden or asked again while the application answered
        if (!found || picture.Empty())
            return;
        HintForm->SetAlpha(HintAlpha);
        HintForm->SetPicture(std::move(picture));
        PlaceHintWindow(HintForm->Handle(), HintPoint);
        IsShowing = true;
        HintForm->Timer().SetInterval(HidePause);
        HintForm->Timer().Start();
    });
}

} // namespace zorbex
