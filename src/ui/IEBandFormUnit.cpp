// TIEBandForm: creation as a child of the band's site window, focus reports to the band, and the
// keyboard's way through the form.
#include "ui/IEBandFormUnit.h"

#include <oleidl.h>
#include <wrl/client.h>

#include <algorithm>

namespace zorbex {

using Microsoft::WRL::ComPtr;

TIEBandForm::TIEBandForm(TBandHost& band, const TFormDesign& design) : TForm(design), OwnerBand(band) {
    CreateHandle(band.ParentWindow(), WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS);
}

void TIEBandForm::FocusChanged(bool gained, HWND other) {
    if (other && (other == Handle() || ::IsChild(Handle(), other)))
        return;
    OwnerBand.FormFocusChanged(gained);
}

void TIEBandForm::Activate() {
    const std::vector<TKeyStop> stops = KeyStops();
    if (stops.empty())
        ::SetFocus(Handle());
    else
        FocusStop(stops.front());
}

void TIEBandForm::AddToolBarStops(std::vector<TKeyStop>& stops, TToolBar& bar,
                                  const std::function<TLabel*(HWND control)>& labelOf) {
    for (const TToolBar::TButton* button : bar.ShownButtons()) {
        if (!button->Control) {
            if (bar.ButtonEnabled(button->CommandId))
                stops.push_back(TKeyStop{&bar, button->CommandId, nullptr, false});
        } else if (TLabel* label = labelOf ? labelOf(button->Control) : nullptr;
                   label && label->Enabled()) {
            stops.push_back(TKeyStop{nullptr, 0, label, false});
        }
    }
}

void TIEBandForm::FocusStop(const TKeyStop& stop) {
    ::SetFocus(stop.Window());
    if (stop.Bar)
        stop.Bar->SetHotButton(stop.CommandId);
}

bool TIEBandForm::StopKeyDown(HWND window, UINT key, bool /*alt: Down and Alt+Down do the same*/) {
    const std::vector<TKeyStop> stops = KeyStops();
    // Where the keyboard is: the hot button of the toolbar that has the focus (its first stop when the
    // mouse took the hot mark away), or the label.
    auto current = std::find_if(stops.begin(), stops.end(), [&](const TKeyStop& stop) {
        return stop.Window() == window && (!stop.Bar || stop.CommandId == stop.Bar->HotButton());
    });
    if (current == stops.end())
        current = std::find_if(stops.begin(), stops.end(), [&](const TKeyStop& stop) { return stop.Window() == window; });
    if (key == VK_ESCAPE) {
        ReturnFocusToPage();
        return true;
    }
    if (current == stops.end())
        return false;
    const TKeyStop stop = *current; // the stops may change under a click
    switch (key) {
    case VK_LEFT:
        FocusStop(current == stops.begin() ? stop : *(current - 1));
        return true;
    case VK_RIGHT:
        FocusStop(current + 1 == stops.end() ? stop : *(current + 1));
        return true;
    case VK_HOME:
        FocusStop(stops.front());
        return true;
    case VK_END:
        FocusStop(stops.back());
        return true;
    case VK_UP:
        return true; // the stops stand in one row: Up leads nowhere
    case VK_DOWN:
        if (stop.Bar && stop.Bar->OpenDropDown(stop.CommandId))
            return true;
        if (!stop.OpensMenu)
            return true; // nothing to open here
        [[fallthrough]];
    case VK_RETURN:
    case VK_SPACE:
        if (stop.Bar)
            stop.Bar->PressButton(stop.CommandId);
        else if (stop.Label->OnClick)
            stop.Label->OnClick();
        return true;
    default:
        return false;
    }
}

void TIEBandForm::ReturnFocusToPage() {
    // The page's own window when the browser shows a document that has one, else the browser's window.
    HWND page = nullptr;
    if (IWebBrowser2* browser = OwnerBand.WebBrowser()) {
        ComPtr<IDispatch> document;
        ComPtr<IOleWindow> window;
        if (SUCCEEDED(browser->get_Document(&document)) && document && SUCCEEDED(document.As(&window)) &&
            FAILED(window->GetWindow(&page)))
            page = nullptr;
        SHANDLE_PTR frame = 0;
        if (!page && SUCCEEDED(browser->get_HWND(&frame)))
            page = reinterpret_cast<HWND>(frame);
    }
    if (page && ::IsWindow(page))
        ::SetFocus(page);
}

} // namespace zorbex
