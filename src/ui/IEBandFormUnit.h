// TIEBandForm: the borderless child form a band shows; TBandHost: what the form needs of its band.
//
// The band object lives one layer up (it creates its form); the form keeps a plain reference back to
// it through TBandHost, so this layer never includes the band's header.
#pragma once

#include <windows.h>
#include <exdisp.h>

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
    // The control that takes the focus when the band is activated, or null for the form window.
    virtual HWND ActiveControl() const { return nullptr; }

protected:
    // Builds the window as a child of the band's ParentWindow.
    TIEBandForm(TBandHost& band, const TFormDesign& design);
    // Runs the creation steps after the constructors; descendants run FormCreate here.
    virtual void AfterConstruction() {}

    LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    TBandHost& OwnerBand;
};

} // namespace zorbex
