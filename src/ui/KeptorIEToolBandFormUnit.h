// TKeptorIEToolBandForm: the base of the toolbar forms, a band form that is a client of its thread's
// Keptor link for as long as it is built.
#pragma once

#include <optional>

#include "server/ServerWrapperUnit.h"
#include "ui/IEBandFormUnit.h"

namespace zorbex {

class TKeptorIEToolBandForm : public TIEBandForm, public TServerClient {
public:
    // The wrapper of the form's thread (exists while the form is built).
    TServerWrapper& Wrapper() const;

    // A form closed while the wrapper tells it something is deleted once the telling is over.
    void HoldClient() override;
    void ReleaseClient() noexcept override;

protected:
    TKeptorIEToolBandForm(TBandHost& band, const TFormDesign& design);
    // Registers with the thread's wrapper (creating it for the thread's first form), then FormCreate.
    void AfterConstruction() override;
    // FormDestroy, then the registration ends (the thread's last form takes the wrapper with it).
    void BeforeDestruction() override;

    // The concrete form's creation and destruction handlers.
    virtual void FormCreate() {}
    virtual void FormDestroy() {}

private:
    std::optional<TServerRegistration> Registration;

};

} // namespace zorbex
