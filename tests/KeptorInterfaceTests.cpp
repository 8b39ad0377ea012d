// The Keptor application's interface: every method the library calls sits at its slot, both in the
// C++ declaration the library is compiled against and in the type library used for marshalling.
#include <windows.h>
#include <wrl/client.h>

#include <cstring>

#include "com/ComSupportUnit.h"
#include "com/ZorbexGUI_TLB.h"
#include "support/TestSupport.h"

using Microsoft::WRL::ComPtr;
using namespace zorbex;

namespace {

// Slot of a virtual member function in its table (the Itanium C++ ABI that MinGW-w64 uses stores a
// virtual member pointer as 1 + the byte offset into the table).
template <typename F> int Slot(F method) {
    static_assert(sizeof(F) == 2 * sizeof(void*));
    ptrdiff_t value = 0;
    std::memcpy(&value, &method, sizeof(value));
    return value & 1 ? static_cast<int>((value - 1) / static_cast<ptrdiff_t>(sizeof(void*))) : -1;
}

struct TSlotRow {
    const wchar_t* Name;
    int Slot;
    int DeclaredSlot;
};

#define SLOT(name, slot) {L## #name, slot, Slot(&IGUIServer::name)}

const TSlotRow kCalledSlots[] = {
    SLOT(AddDocumentToRubric, 8),     SLOT(AddLinkList, 9),          SLOT(OpenLinkList, 10),
    SLOT(GetInternalBrowser, 11),     SLOT(GetLinkImage, 14),        SLOT(GetHintSettings, 15),
    SLOT(GetHighlightSettings, 16),   SLOT(GetLinkStates, 17),       SLOT(SetHighlightEnabled, 18),
    SLOT(SetPopupKillerEnabled, 19),  SLOT(ShowPopupKillerSettings, 20), SLOT(ShowLinkSearch, 21),
    SLOT(ShowDocumentProperties, 22), SLOT(ShowSettings, 24),        SLOT(GetLinkUrl, 32),
    SLOT(GetDomainLinks, 33),         SLOT(ShowComments, 34),        SLOT(AddBannerList, 35),
    SLOT(SetBannerKillerEnabled, 36), SLOT(GetCurrentRubricName, 37), SLOT(SetLinkHintEnabled, 39),
    SLOT(GetDomainLinkCount, 40),     SLOT(GetRatingCount, 41),      SLOT(GetRatingColors, 42),
    SLOT(SetDocumentRating, 43),      SLOT(GetDocumentId, 45),       SLOT(GetCommentColors, 46),
    SLOT(GetDocumentInfo, 47),        SLOT(GetScreenShotSettings, 48), SLOT(StoreScreenShot, 49),
    SLOT(StoreSecondScreenShot, 50),  SLOT(SetToolbarEnabled, 52),   SLOT(GetQuickGroupCount, 53),
    SLOT(GetQuickGroup, 54),          SLOT(GetQuickLink, 55),        SLOT(ShowQuickGroupManager, 56),
};

TEST(KeptorInterfaceTest, CalledMethodsSitAtTheirSlotsInTheDeclaration) {
    for (const auto& row : kCalledSlots)
        EXPECT_EQ(row.Slot, row.DeclaredSlot) << row.Name;
    EXPECT_EQ(7, Slot(&IGUIServer::Reserved07));
    EXPECT_EQ(56, Slot(&IGUIServer::ShowQuickGroupManager)) << "fifty methods of its own, slots 7 to 56";
}

TEST(KeptorInterfaceTest, CalledMethodsSitAtTheirSlotsInTheTypeLibrary) {
    const char* path = std::getenv("ZORBEX_KEPTOR_TLB");
    ASSERT_TRUE(path);
    ComPtr<ITypeLib> library;
    ASSERT_EQ(S_OK, ::LoadTypeLibEx(test::WindowsPath(path).c_str(), REGKIND_NONE, &library));
    ComPtr<ITypeInfo> dispatchInfo, info;
    ASSERT_EQ(S_OK, library->GetTypeInfoOfGuid(IID_IGUIServer, &dispatchInfo));
    HREFTYPE ref = 0;
    ASSERT_EQ(S_OK, dispatchInfo->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref));
    ASSERT_EQ(S_OK, dispatchInfo->GetRefTypeInfo(ref, &info));
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
    EXPECT_EQ(50, attr->cFuncs);
    EXPECT_EQ(57 * test::kSlotBytes, attr->cbSizeVft);
    info->ReleaseTypeAttr(attr);
    for (const auto& row : kCalledSlots) {
        LPOLESTR name = const_cast<LPOLESTR>(row.Name);
        MEMBERID id = 0;
        ASSERT_EQ(S_OK, info->GetIDsOfNames(&name, 1, &id)) << row.Name;
        bool found = false;
        for (UINT i = 0; i < 50; ++i) {
            FUNCDESC* func = nullptr;
            ASSERT_EQ(S_OK, info->GetFuncDesc(i, &func));
            if (func->memid == id) {
                EXPECT_EQ(row.Slot * test::kSlotBytes, func->oVft) << row.Name;
                found = true;
            }
            info->ReleaseFuncDesc(func);
        }
        EXPECT_TRUE(found) << row.Name;
    }
}

TEST(KeptorInterfaceTest, EventsHaveTheirDispids) {
    const char* path = std::getenv("ZORBEX_KEPTOR_TLB");
    ASSERT_TRUE(path);
    ComPtr<ITypeLib> library;
    ASSERT_EQ(S_OK, ::LoadTypeLibEx(test::WindowsPath(path).c_str(), REGKIND_NONE, &library));
    ComPtr<ITypeInfo> events;
    ASSERT_EQ(S_OK, library->GetTypeInfoOfGuid(DIID_IGUIServerEvents, &events));
    const struct {
        const wchar_t* Name;
        MEMBERID Id;
        std::vector<VARTYPE> Args;
    } rows[] = {{L"OnQuit", 201, {}},
                {L"OnRefreshHighlight", 202, {}},
                {L"OnDocumentDataChange", 203, {VT_I4, VT_BOOL, VT_BSTR, VT_I4, VT_I4}},
                {L"OnSettingsChange", 204, {}},
                {L"OnFunctionalityChange", 205, {}},
                {L"OnQuickGroupChange", 206, {}}};
    for (UINT i = 0; i < std::size(rows); ++i) {
        FUNCDESC* func = nullptr;
        ASSERT_EQ(S_OK, events->GetFuncDesc(i, &func));
        EXPECT_EQ(rows[i].Id, func->memid) << rows[i].Name;
        ASSERT_EQ(rows[i].Args.size(), static_cast<size_t>(func->cParams)) << rows[i].Name;
        for (size_t a = 0; a < rows[i].Args.size(); ++a)
            EXPECT_EQ(rows[i].Args[a], func->lprgelemdescParam[a].tdesc.vt) << rows[i].Name << " argument " << a;
        events->ReleaseFuncDesc(func);
    }
}

} // namespace
