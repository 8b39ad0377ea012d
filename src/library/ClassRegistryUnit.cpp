// The class registry.
#include "library/ClassRegistryUnit.h"

#include "band/ToolbarFactoryUnit.h"
#include "band/TrovellaQLToolbarUnit.h"
#include "band/ZorbexExplorerBarUnit.h"
#include "com/ComServerUnit.h"
#include "library/IEHKepUtilsUnit.h"
#include "library/IEHelperBHOGUIUnit.h"
#include "ui/FormsUnit.h"

#include "ResourceIds.h"

namespace zorbex {

void CreateClassFactories() {
    TComClassManager& classes = ComClassManager();
    const std::wstring product = LoadResString(IDS_PRODUCT_NAME);
    classes.Add(std::make_unique<TKeptorToolbarFactory>(
        CLSID_ZorbexExplorerBar, L"TZorbexExplorerBar", &TZorbexExplorerBar::CreateObject, product + L" Bar",
        kDeskBandCategory, true, TInstancing::Multi, TThreadingModel::Apartment));
    classes.Add(std::make_unique<TAutoObjectFactory>(CLSID_IEHKepUtils, L"TIEHKepUtils", &TIEHKepUtils::CreateObject,
                                                     IID_IIEHKepUtils, TInstancing::Multi,
                                                     TThreadingModel::Apartment));
    classes.Add(std::make_unique<TAutoObjectFactory>(CLSID_IEHelperBHOGUI, L"TIEHelperBHOGUI",
                                                     &TIEHelperBHOGUI::CreateObject, IID_IIEHelperBHOGUI,
                                                     TInstancing::Multi, TThreadingModel::Apartment));
    classes.Add(std::make_unique<TKeptorToolbarFactory>(
        CLSID_TrovellaQLToolbar, L"TTrovellaQLToolbar", &TTrovellaQLToolbar::CreateObject,
        product + L" Links" + L" Bar", kDeskBandCategory, true, TInstancing::Multi, TThreadingModel::Apartment));
}

void DestroyClassFactories() {
    ComClassManager().Clear();
    UnregisterFormClasses();
}

} // namespace zorbex
