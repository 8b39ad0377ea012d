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
