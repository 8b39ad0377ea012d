// TZorbexExplorerBar: creation, class ID, title and the co-class's own interface.
#include "band/ZorbexExplorerBarUnit.h"

#include "com/ComServerUnit.h"
#include "com/ZorbexGUI_TLB.h"

#include "ResourceIds.h"

namespace zorbex {

IUnknown* TZorbexExplorerBar::CreateObject(IUnknown* outer) {
    return (new TZorbexExplorerBar(outer))->FirstReference();
}

void TZorbexExplorerBar::GetBandClassID(CLSID& clsid) {
    clsid = CLSID_ZorbexExplorerBar;
}

void TZorbexExplorerBar::GetTitle(std::wstring& title) {
    title = LoadResString(IDS_PRODUCT_NAME);
}

bool TZorbexExplorerBar::QueryOwnInterface(REFIID iid, void** object) {
    if (iid != IID_IZorbexExplorerBar)
        return false;
    // The interface has no methods of its own: any of the object's IUnknown-based tables serves it.
    *object = static_cast<IDeskBand*>(this);
    return true;
}

} // namespace zorbex
