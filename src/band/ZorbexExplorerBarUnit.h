// TZorbexExplorerBar: the main toolbar's co-class: its class ID, its title and its own interface
// IZorbexExplorerBar. Its creator is what the class factory calls.
#pragma once

#include "band/MainIEToolBandUnit.h"

namespace zorbex {

class TZorbexExplorerBar : public TMainIEToolBand {
public:
    // A new band, aggregated in outer when it is not null: its own IUnknown with one reference.
    static IUnknown* CreateObject(IUnknown* outer = nullptr);

protected:
    explicit TZorbexExplorerBar(IUnknown* outer) : TMainIEToolBand(outer) {}

    void GetBandClassID(CLSID& clsid) override;
    void GetTitle(std::wstring& title) override;
    bool QueryOwnInterface(REFIID iid, void** object) override;
};

} // namespace zorbex
