// TKeptorToolbarFactory: the class factory of the toolbar bands, which also registers the band's
// component category and its entry in the browser's toolbar list.
#pragma once

#include "com/ComFactoryUnit.h"

namespace zorbex {

class TKeptorToolbarFactory : public TComObjectFactory {
public:
    TKeptorToolbarFactory(const CLSID& clsid, const wchar_t* objectClassName, TObjectCreator creator,
                          std::wstring bandDescription, std::wstring categoryID, bool registerToolbar,
                          TInstancing instancing, TThreadingModel threading);

    const std::wstring& BandDescription() const { return Description_; }
    const std::wstring& CategoryID() const { return Category; }
    bool RegisterToolbar() const { return Toolbar; }

    void UpdateRegistration(bool doRegister) override;

private:
    std::wstring Description_;
    std::wstring Category;
    bool Toolbar;
};

// The browser's desk-band component category.
inline constexpr wchar_t kDeskBandCategory[] = L"{00021492-0000-0000-C000-000000000046}";

} // namespace zorbex
