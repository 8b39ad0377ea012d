// TKeptorIEToolBandForm: registration with the thread's wrapper around FormCreate and FormDestroy.
#include "ui/KeptorIEToolBandFormUnit.h"

#include "com/ErrorsUnit.h"

namespace zorbex {

TKeptorIEToolBandForm::TKeptorIEToolBandForm(TBandHost& band, const TFormDesign& design)
    : TIEBandForm(band, design) {}

void TKeptorIEToolBandForm::AfterConstruction() {
    TIEBandForm::AfterConstruction();
    Registration.emplace(*this);
    TUndoOnError unregister([this] { Registration.reset(); });
    // A form whose creation fails half-way (memory running out) is taken down as a closing form is, before
    // it goes: what FormCreate had connected, such as the browser's events to the form's handlers, must
    // not outlive it.
    TUndoOnError destroy([this] { FormDestroy(); });
    FormCreate();
}

void TKeptorIEToolBandForm::BeforeDestruction() {
    {
        TUndoOnError unregister([this] { Registration.reset(); });
        FormDestroy();
    }
    Registration.reset();
    TIEBandForm::BeforeDestruction();
}

void TKeptorIEToolBandForm::HoldClient() {
    AddHold();
}

void TKeptorIEToolBandForm::ReleaseClient() noexcept {
    ReleaseHold();
}

TServerWrapper& TKeptorIEToolBandForm::Wrapper() const {
    if (!Registration)
        RaiseError(L"No server wrapper on this thread");
    return Registration->Wrapper();
}

} // namespace zorbex
