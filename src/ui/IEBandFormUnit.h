// TIEBandForm: the borderless child form a band shows; TBandHost: what the form needs of its band.
//
// The band object lives one layer up (it creates its form); the form keeps a plain reference back to
// it through TBandHost, so this layer never includes the band's header.
//
// The keyboard: the browser gives a band the focus with Tab or F6 (Activate) and takes it away the same
// way; inside the form, the keys go to the control that has the focus. A toolbar form names its stops,
// left to right (KeyStops): Left and Right, Home and End move between them, Enter and Space use the one
// that has the focus, Down opens its drop-down or menu and Escape gives the focus back to the page.
#pragma once

#include <windows.h>
#include <exdisp.h>

#include <functional>
#include <vector>

#include "ui/ControlsUnit.h"
#include "ui/FormsUnit.h"

namespace zorbex {

class TBandHost {
public:
    virtual HWND ParentWindow() const = 0;
    virtual IWebBrowser2* WebBrowser() const = 0;
    // Asks the host to read the band's sizes again.
    virtual void NotifyBandInfoChanged() = 0;
    // The form window gained (true) or lost (false) the keyboard focus.
    virtual void FormFocusChanged(bool focused) = 0;

protected:
    ~TBandHost() = default;
};

// A place of a form the keyboard reaches: a button of one of its toolbars, or a label.
struct TKeyStop {
    TToolBar* Bar = nullptr;
    int CommandId = 0;
    TLabel* Label = nullptr;
    bool OpensMenu = false; // Down uses it as Enter does: its click opens a menu
    HWND Window() const { return Bar ? Bar->Handle() : Label ? Label->Handle() : nullptr; }
};

class TIEBandForm : public TForm {
public:
    // Builds a form of class T for a band: constructors, then AfterConstruction.
    template <typename T> static TFormPtr<TIEBandForm> Create(TBandHost& band) {
        TFormPtr<TIEBandForm> form(new T(band));
        form->AfterConstruction();
        form->MarkCreated();
        return form;
    }

    TBandHost& Band() const { return OwnerBand; }
    // The band is activated: the focus goes to the form's first stop (a button is shown as hot), or to
    // the form window when it has none.
    void Activate();

protected:
    // Builds the window as a child of the band's ParentWindow.
    TIEBandForm(TBandHost& band, const TFormDesign& design);
    // Runs the creation steps after the constructors; descendants run FormCreate here.
    virtual void AfterConstruction() {}

    // The stops of the form, left to right: enabled, shown buttons and labels.
    virtual std::vector<TKeyStop> KeyStops() { return {}; }
    // The stops of a toolbar, left to right, appended; a control placed on the toolbar is a stop when
    // labelOf names an enabled label in it.
    static void AddToolBarStops(std::vector<TKeyStop>& stops, TToolBar& bar,
                                const std::function<TLabel*(HWND control)>& labelOf = {});
    // The handler of a key pressed on one of the form's stops (TToolBar::OnKey and TLabel::OnKey).
    bool StopKeyDown(HWND window, UINT key, bool alt);
    // Gives the focus back to the page the browser shows.
    void ReturnFocusToPage();
    // Puts the focus on a stop (a button is marked hot).
    static void FocusStop(const TKeyStop& stop);

    // The focus came to or left the form (moves between its own windows are not the band's business).
    void FocusChanged(bool gained, HWND other) override;

private:
    TBandHost& OwnerBand;
};

} // namespace zorbex
