// TTrovellaQLToolbar: creation, class ID, title and the co-class's own interface.
#include "band/TrovellaQLToolbarUnit.h"

#include "com/ComServerUnit.h"
#include "com/ZorbexGUI_TLB.h"

#include "ResourceIds.h"

namespace zorbex {

IUnknown* TTrovellaQLToolbar::CreateObject(IUnknown* outer) {
    return (new TTrovellaQLToolbar(outer))->FirstReference();
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
    // The interface has no methods of its own: any of the object's IUnknown-based tables serves it.
    *object = static_cast<IDeskBand*>(this);
    return true;
}

} // namespace zorbex
