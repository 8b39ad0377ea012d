// TTrovellaQLToolbar: the quick-link toolbar's co-class: its class ID, its title and its own interface
// ITrovellaQLToolbar. Its creator is what the class factory calls.
#pragma once

#include "band/QuickLinkIEToolBandUnit.h"

namespace zorbex {

class TTrovellaQLToolbar : public TQuickLinkIEToolBand {
public:
    // A new band, aggregated in outer when it is not null: its own IUnknown with one reference.
    static IUnknown* CreateObject(IUnknown* outer = nullptr);

protected:
    explicit TTrovellaQLToolbar(IUnknown* outer) : TQuickLinkIEToolBand(outer) {}

    void GetBandClassID(CLSID& clsid) override;
    void GetTitle(std::wstring& title) override;
    bool QueryOwnInterface(REFIID iid, void** object) override;
};

} // namespace zorbex
