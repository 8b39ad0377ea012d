// The class registry: each co-class with its factory kind, object class name and creator.
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
    classes.Add(std::make_unique<TKeptorToolbarFactory>(CLSID_ZorbexExplorerBar, L"TZorbexExplorerBar",
                                                        &TZorbexExplorerBar::CreateObject, product + L" Bar"));
    classes.Add(std::make_unique<TAutoObjectFactory>(CLSID_IEHKepUtils, L"TIEHKepUtils", &TIEHKepUtils::CreateObject,
                                                     IID_IIEHKepUtils));
    classes.Add(std::make_unique<TAutoObjectFactory>(CLSID_IEHelperBHOGUI, L"TIEHelperBHOGUI",
                                                     &TIEHelperBHOGUI::CreateObject, IID_IIEHelperBHOGUI));
    classes.Add(std::make_unique<TKeptorToolbarFactory>(CLSID_TrovellaQLToolbar, L"TTrovellaQLToolbar",
                                                        &TTrovellaQLToolbar::CreateObject, product + L" Links Bar"));
}

void DestroyClassFactories() {
    ComClassManager().Clear();
    UnregisterFormClasses();
}

} // namespace zorbex
