// TTrovellaQLToolbar.
#include "band/TrovellaQLToolbarUnit.h"

#include "com/ComServerUnit.h"
#include "com/ZorbexGUI_TLB.h"

#include "ResourceIds.h"

namespace zorbex {

IUnknown* TTrovellaQLToolbar::CreateObject() {
    auto* band = new TTrovellaQLToolbar;
    band->AddRef();
    return static_cast<IDeskBand*>(band);
}

void TTrovellaQLToolbar::GetBandClassID(CLSID& clsid) {
    clsid = CLSID_TrovellaQLToolbar;
}

void TTrovellaQLToolbar::GetTitle(std::wstring& title) {
    title = LoadResString(IDS_PRODUCT_NAME) + L" Links";
}

bool TTrovellaQLToolbar::QueryOwnInterface(REFIID iid, void** object) {
    if (iid != IID_ITrovellaQLToolbar)
        return false;
    *object = static_cast<IDeskBand*>(this);
    return true;
}

} // namespace zorbex
