// TKeptorToolbarFactory: the class factory of the toolbar bands. Beyond what every class registers it
// makes the band a desk band (its component category) and lists it in the browser's toolbar list, so
// that the browser offers it; removing the registration takes both away again.
#pragma once

#include "com/ComFactoryUnit.h"

namespace zorbex {

class TKeptorToolbarFactory : public TComObjectFactory {
public:
    // bandDescription: the toolbar's name in the browser's toolbar list and the class key's default value.
    TKeptorToolbarFactory(const CLSID& clsid, const wchar_t* objectClassName, TObjectCreator creator,
                          std::wstring bandDescription);

    void UpdateRegistration(bool doRegister) override;

private:
    std::wstring BandDescription;
};

} // namespace zorbex
