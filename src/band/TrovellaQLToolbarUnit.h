// TTrovellaQLToolbar: the quick-link toolbar's co-class.
#pragma once

#include "band/QuickLinkIEToolBandUnit.h"

namespace zorbex {

class TTrovellaQLToolbar : public TQuickLinkIEToolBand {
public:
    static IUnknown* CreateObject();

protected:
    void GetBandClassID(CLSID& clsid) override;
    void GetTitle(std::wstring& title) override;
    bool QueryOwnInterface(REFIID iid, void** object) override;
};

} // namespace zorbex
