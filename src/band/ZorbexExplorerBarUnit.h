// TZorbexExplorerBar: the main toolbar's co-class.
#pragma once

#include "band/MainIEToolBandUnit.h"

namespace zorbex {

class TZorbexExplorerBar : public TMainIEToolBand {
public:
    static IUnknown* CreateObject();

protected:
    void GetBandClassID(CLSID& clsid) override;
    void GetTitle(std::wstring& title) override;
    bool QueryOwnInterface(REFIID iid, void** object) override;
};

} // namespace zorbex
