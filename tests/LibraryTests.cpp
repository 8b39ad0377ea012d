// Library entry points, class factories (aggregation included), registration and the embedded type
// library; the four objects as COM clients see them.
#include <windows.h>
#include <ocidl.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <map>
#include <string>
#include <vector>

#include "com/ComFactoryUnit.h"
#include "com/ComObjectUnit.h"
#include "com/ComServerUnit.h"
#include "com/ComSupportUnit.h"
#include "com/ErrorsUnit.h"
#include "com/RegistryUnit.h"
#include "com/ZorbexGUI_TLB.h"
#include "library/IEHKepUtilsUnit.h"
#include "support/TestSupport.h"

using Microsoft::WRL::ComPtr;
using namespace zorbex;
using namespace zorbex::test;

namespace {

const wchar_t kLibId[] = L"{813AC9E9-E5DB-4E8A-9365-FACF0BAA6685}";
const wchar_t kToolbarList[] = L"SOFTWARE\\Microsoft\\Internet Explorer\\Toolbar";
const wchar_t kDeskBand[] = L"{00021492-0000-0000-C000-000000000046}";

struct TClassRow {
    const CLSID* Clsid;
    const wchar_t* ProgID;
    const wchar_t* ClassDescription; // default value of CLSID\{clsid}
    const wchar_t* ProgIDDescription;
    bool Band;
    const IID* Interface; // the co-class's default interface
};

const TClassRow kClasses[] = {
    {&CLSID_ZorbexExplorerBar, L"ZorbexGUI.ZorbexExplorerBar", L"Trovella Bar", L"ZorbexExplorerBar", true,
     &IID_IZorbexExplorerBar},
    {&CLSID_IEHKepUtils, L"ZorbexGUI.IEHKepUtils", L"IEHKepUtils Object", L"IEHKepUtils Object", false,
     &IID_IIEHKepUtils},
    {&CLSID_IEHelperBHOGUI, L"ZorbexGUI.IEHelperBHOGUI", L"IEHelperBHOGUI Object", L"IEHelperBHOGUI Object", false,
     &IID_IIEHelperBHOGUI},
    {&CLSID_TrovellaQLToolbar, L"ZorbexGUI.TrovellaQLToolbar", L"Trovella Links Bar", L"TrovellaQLToolbar", true,
     &IID_ITrovellaQLToolbar},
};

std::wstring Value(HKEY root, const std::wstring& path, const std::wstring& name = L"") {
    return ReadStringValue(root, path, name).value_or(L"<missing>");
}

bool KeyExists(HKEY root, const std::wstring& path) {
    return static_cast<bool>(OpenKey(root, path, KEY_READ));
}

// Every key and value under a registry path, flattened, for comparing states.
void Snapshot(HKEY root, const std::wstring& path, std::map<std::wstring, std::wstring>& out) {
    TRegKey key = OpenKey(root, path, KEY_READ);
    if (!key)
        return;
    out[path] = L"<key>";
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256, type = 0;
        BYTE data[2048];
        DWORD dataSize = sizeof(data);
        if (::RegEnumValueW(key.Get(), i, name, &nameLength, nullptr, &type, data, &dataSize) != ERROR_SUCCESS)
            break;
        out[path + L"|" + name] = std::wstring(reinterpret_cast<wchar_t*>(data), dataSize / sizeof(wchar_t));
    }
    std::vector<std::wstring> subkeys;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256;
        if (::RegEnumKeyExW(key.Get(), i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        subkeys.push_back(name);
    }
    for (const auto& subkey : subkeys)
        Snapshot(root, path + L"\\" + subkey, out);
}

std::map<std::wstring, std::wstring> RegistrationState() {
    std::map<std::wstring, std::wstring> state;
    for (const auto& row : kClasses) {
        Snapshot(HKEY_CLASSES_ROOT, L"CLSID\\" + GuidToString(*row.Clsid), state);
        Snapshot(HKEY_CLASSES_ROOT, row.ProgID, state);
    }
    Snapshot(HKEY_CLASSES_ROOT, std::wstring(L"TypeLib\\") + kLibId, state);
    Snapshot(HKEY_LOCAL_MACHINE, kToolbarList, state);
    return state;
}

class RegistrationTest : public TComTest {
protected:
    void TearDown() override {
        // Leave the build's DLL registered for the tests that create objects through COM.
        TLibrary library;
        library.Unregister();
        EXPECT_EQ(S_OK, library.Register());
        TComTest::TearDown();
    }
};

TEST_F(RegistrationTest, WritesEveryKeyAndValue) {
    TLibrary library;
    ASSERT_TRUE(library.Module());
    library.Unregister();
    ASSERT_EQ(S_OK, library.Register());

    wchar_t path[MAX_PATH];
    ::GetModuleFileNameW(library.Module(), path, MAX_PATH);
    for (const auto& row : kClasses) {
        SCOPED_TRACE(row.ProgID);
        const std::wstring clsid = GuidToString(*row.Clsid);
        const std::wstring key = L"CLSID\\" + clsid;
        EXPECT_EQ(row.ClassDescription, Value(HKEY_CLASSES_ROOT, key));
        EXPECT_EQ(0, _wcsicmp(path, Value(HKEY_CLASSES_ROOT, key + L"\\InprocServer32").c_str()));
        EXPECT_EQ(L"Apartment", Value(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", L"ThreadingModel"));
        EXPECT_EQ(row.ProgID, Value(HKEY_CLASSES_ROOT, key + L"\\ProgID"));
        EXPECT_EQ(L"1.0", Value(HKEY_CLASSES_ROOT, key + L"\\Version"));
        EXPECT_EQ(kLibId, Value(HKEY_CLASSES_ROOT, key + L"\\TypeLib"));
        EXPECT_EQ(row.ProgIDDescription, Value(HKEY_CLASSES_ROOT, row.ProgID));
        EXPECT_EQ(clsid, Value(HKEY_CLASSES_ROOT, std::wstring(row.ProgID) + L"\\Clsid"));
        EXPECT_EQ(row.Band, KeyExists(HKEY_CLASSES_ROOT, key + L"\\Implemented Categories\\" + kDeskBand));
        if (row.Band)
            EXPECT_EQ(row.ClassDescription, Value(HKEY_LOCAL_MACHINE, kToolbarList, clsid));
        else
            EXPECT_EQ(L"<missing>", Value(HKEY_LOCAL_MACHINE, kToolbarList, clsid));
    }
    EXPECT_EQ(0, _wcsicmp(path, Value(HKEY_CLASSES_ROOT, std::wstring(L"TypeLib\\") + kLibId + L"\\1.0\\409\\" +
                                                  test::kTypeLibPlatformKey)
                                    .c_str()));
}

TEST_F(RegistrationTest, TwiceGivesTheSameState) {
    TLibrary library;
    library.Unregister();
    ASSERT_EQ(S_OK, library.Register());
    auto once = RegistrationState();
    ASSERT_EQ(S_OK, library.Register());
    EXPECT_EQ(once, RegistrationState());
}

TEST_F(RegistrationTest, UnregistrationLeavesNoClassKeyAndNoToolbarValue) {
    TLibrary library;
    ASSERT_EQ(S_OK, library.Register());
    ASSERT_EQ(S_OK, library.Unregister());
    for (const auto& row : kClasses) {
        SCOPED_TRACE(row.ProgID);
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\" + GuidToString(*row.Clsid)));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, row.ProgID));
        EXPECT_EQ(L"<missing>", Value(HKEY_LOCAL_MACHINE, kToolbarList, GuidToString(*row.Clsid)));
    }
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(L"TypeLib\\") + kLibId));
    // Unregistering what is not registered succeeds.
    EXPECT_EQ(S_OK, library.Unregister());
}

TEST_F(RegistrationTest, PathWithASpaceIsWrittenInItsShortForm) {
    const std::wstring directory = L"C:\\zorbex test dir";
    const std::wstring copy = directory + L"\\ZorbexGUI.dll";
    ::CreateDirectoryW(directory.c_str(), nullptr);
    ASSERT_TRUE(::CopyFileW(DllPath().c_str(), copy.c_str(), FALSE));
    {
        TLibrary library(copy);
        ASSERT_TRUE(library.Module());
        ASSERT_EQ(S_OK, library.Register());
        wchar_t shortPath[MAX_PATH];
        ASSERT_NE(0u, ::GetShortPathNameW(copy.c_str(), shortPath, MAX_PATH));
        const std::wstring written =
            Value(HKEY_CLASSES_ROOT, L"CLSID\\" + GuidToString(CLSID_IEHKepUtils) + L"\\InprocServer32");
        EXPECT_EQ(shortPath, written);
        EXPECT_EQ(std::wstring::npos, written.find(L' '));
        EXPECT_EQ(S_OK, library.Unregister());
    }
    ::DeleteFileW(copy.c_str());
    ::RemoveDirectoryW(directory.c_str());
}

TEST_F(RegistrationTest, LoadedByItsShortPathTheLongPathIsWritten) {
    // The loader names the file as it was asked for; registration writes every element in its long form.
    const std::wstring directory = L"C:\\zorbexlongdirectoryname";
    const std::wstring copy = directory + L"\\ZorbexGUI.dll";
    ::CreateDirectoryW(directory.c_str(), nullptr);
    ASSERT_TRUE(::CopyFileW(DllPath().c_str(), copy.c_str(), FALSE));
    wchar_t shortPath[MAX_PATH];
    ASSERT_NE(0u, ::GetShortPathNameW(copy.c_str(), shortPath, MAX_PATH));
    ASSERT_NE(copy, shortPath);
    {
        TLibrary library(shortPath);
        ASSERT_TRUE(library.Module());
        ASSERT_EQ(S_OK, library.Register());
        EXPECT_EQ(0, _wcsicmp(copy.c_str(), Value(HKEY_CLASSES_ROOT, L"CLSID\\" + GuidToString(CLSID_IEHKepUtils) +
                                                                      L"\\InprocServer32")
                                                .c_str()));
        EXPECT_EQ(0, _wcsicmp(copy.c_str(), Value(HKEY_CLASSES_ROOT, std::wstring(L"TypeLib\\") + kLibId +
                                                                      L"\\1.0\\409\\" + test::kTypeLibPlatformKey)
                                                .c_str()));
        EXPECT_EQ(S_OK, library.Unregister());
    }
    ::DeleteFileW(copy.c_str());
    ::RemoveDirectoryW(directory.c_str());
}

TEST(RegistrationPathTest, WithoutAShortFormTheLongPathIsWritten) {
    // A path the system cannot shorten (here: it does not exist) stays whole instead of becoming empty.
    const std::wstring missing = L"C:\\no such directory\\ZorbexGUI.dll";
    EXPECT_EQ(missing, ShortPathIfSpaced(missing));
    EXPECT_EQ(L"C:\\plain\\ZorbexGUI.dll", ShortPathIfSpaced(L"C:\\plain\\ZorbexGUI.dll"));
}

class FactoryTest : public TComTest {};

TEST_F(FactoryTest, ExportsAreTheFourEntryPointsAtOrdinalsOneToFour) {
    TLibrary library;
    const char* names[] = {"DllUnregisterServer", "DllRegisterServer", "DllCanUnloadNow", "DllGetClassObject"};
    for (WORD ordinal = 1; ordinal <= 4; ++ordinal)
        EXPECT_EQ(::GetProcAddress(library.Module(), names[ordinal - 1]),
                  ::GetProcAddress(library.Module(), MAKEINTRESOURCEA(ordinal)))
            << names[ordinal - 1];
}

TEST_F(FactoryTest, CanUnloadNowFollowsObjectsLocksAndFactoryReferences) {
    TLibrary library;
    EXPECT_EQ(S_OK, library.CanUnloadNow());
    for (const auto& row : kClasses) {
        SCOPED_TRACE(row.ProgID);
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(S_OK, library.GetClassObject(*row.Clsid, IID_PPV_ARGS(&factory)));
        EXPECT_EQ(S_FALSE, library.CanUnloadNow());
        ComPtr<IUnknown> object;
        ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&object)));
        factory.Reset();
        EXPECT_EQ(S_FALSE, library.CanUnloadNow()) << "a live object";
        object.Reset();
        EXPECT_EQ(S_OK, library.CanUnloadNow());
    }
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, library.GetClassObject(CLSID_IEHKepUtils, IID_PPV_ARGS(&factory)));
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    IClassFactory* raw = factory.Detach();
    raw->Release();
    EXPECT_EQ(S_FALSE, library.CanUnloadNow()) << "a server lock";
    ASSERT_EQ(S_OK, library.GetClassObject(CLSID_IEHKepUtils, IID_PPV_ARGS(&factory)));
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    factory.Reset();
    EXPECT_EQ(S_OK, library.CanUnloadNow());
}

// The lowest free TLS index: it moves up when something keeps a slot.
DWORD LowestFreeThreadSlot() {
    const DWORD index = ::TlsAlloc();
    ::TlsFree(index);
    return index;
}

TEST_F(FactoryTest, LoadingAgainKeepsNoThreadSlot) {
    // A load as a browser tab makes it: the four objects, and a failure answered by one of them (an
    // error raised and caught inside the library).
    const auto loadAndUse = [] {
        TLibrary library;
        for (const auto& row : kClasses) {
            ComPtr<IClassFactory> factory;
            ComPtr<IUnknown> object;
            ASSERT_EQ(S_OK, library.GetClassObject(*row.Clsid, IID_PPV_ARGS(&factory)));
            ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&object)));
        }
        ComPtr<IClassFactory> factory;
        ComPtr<IIEHKepUtils> utils;
        ASSERT_EQ(S_OK, library.GetClassObject(CLSID_IEHKepUtils, IID_PPV_ARGS(&factory)));
        ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&utils)));
        EXPECT_EQ(DISP_E_BADVARTYPE, utils->OpenLinks(MalformedVariant(), 0)); // raises inside
    };
    loadAndUse(); // the system's own first-use slots
    const DWORD before = LowestFreeThreadSlot();
    for (int load = 0; load < 10; ++load)
        loadAndUse();
    EXPECT_EQ(before, LowestFreeThreadSlot());
}

// Raising an error needs a TLS slot for the thread's exception state, which the library takes at load: a
// process with no slot left fails the load, rather than an error raised later finding nowhere to go.
TEST_F(FactoryTest, ALoadWithNoThreadSlotLeftFailsAndTheNextOneWorks) {
    std::vector<DWORD> taken;
    for (DWORD slot = ::TlsAlloc(); slot != TLS_OUT_OF_INDEXES; slot = ::TlsAlloc())
        taken.push_back(slot);
    ASSERT_FALSE(taken.empty());
    HMODULE module = ::LoadLibraryW(DllPath().c_str());
    const DWORD error = ::GetLastError();
    for (DWORD slot : taken)
        ::TlsFree(slot);
    if (module)
        ::FreeLibrary(module);
    EXPECT_EQ(nullptr, module) << "the load fails as a whole";
    EXPECT_EQ(static_cast<DWORD>(ERROR_DLL_INIT_FAILED), error);
    TLibrary library;
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(S_OK, library.GetClassObject(CLSID_IEHKepUtils, IID_PPV_ARGS(&factory)));
}

TEST_F(FactoryTest, UnknownClassAndAggregationForAnotherInterfaceAreRefused) {
    TLibrary library;
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, library.GetClassObject(IID_IDispatch, IID_IClassFactory, &object));
    EXPECT_EQ(nullptr, object);

    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, library.GetClassObject(CLSID_ZorbexExplorerBar, IID_PPV_ARGS(&factory)));
    ComPtr<IUnknown> outer;
    ASSERT_EQ(S_OK, library.GetClassObject(CLSID_IEHKepUtils, IID_PPV_ARGS(&outer)));
    object = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(outer.Get(), IID_IDeskBand, &object));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(E_POINTER, factory->CreateInstance(nullptr, IID_IUnknown, nullptr));
    // A refused interface destroys the new object at once.
    object = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IClassFactory, &object));
    EXPECT_EQ(nullptr, object);
    outer.Reset();
    factory.Reset();
    EXPECT_EQ(S_OK, library.CanUnloadNow());
}

std::wstring LastErrorBoxMessage;
IUnknown* RaisingCreator(IUnknown*) {
    throw TError(L"Object cannot be made");
}

TEST_F(FactoryTest, AnErrorWhileCreatingIsShownAndGivesEUnexpected) {
    // In-process factory of this executable's own class registry pieces (same type library).
    SetCreateErrorBox([](const std::wstring& message) { LastErrorBoxMessage = message; });
    {
        TAutoObjectFactory factory(CLSID_IEHKepUtils, L"TIEHKepUtils", &RaisingCreator, IID_IIEHKepUtils);
        void* object = reinterpret_cast<void*>(1);
        EXPECT_EQ(E_UNEXPECTED, factory.CreateInstance(nullptr, IID_IUnknown, &object));
        EXPECT_EQ(nullptr, object);
        EXPECT_EQ(L"Object cannot be made.", LastErrorBoxMessage);
    }
    SetCreateErrorBox(nullptr);
}

TEST_F(FactoryTest, AutomationFactoryChecksTheDefaultDispatchInterface) {
    auto create = [](const CLSID& clsid, const IID& iid) -> std::wstring {
        try {
            TAutoObjectFactory factory(clsid, L"TSample", &RaisingCreator, iid);
            return L"";
        } catch (const TError& error) {
            return error.Text();
        }
    };
    EXPECT_EQ(L"", create(CLSID_IEHelperBHOGUI, IID_IIEHelperBHOGUI));
    EXPECT_EQ(L"Dispatch interface missing from class TSample", create(CLSID_IEHelperBHOGUI, IID_IIEHKepUtils));
    EXPECT_EQ(L"Incorrect type information for class TSample", create(CLSID_ZorbexExplorerBar, IID_IIEHKepUtils));
    EXPECT_EQ(L"Type information missing for class TSample", create(IID_IDispatch, IID_IIEHKepUtils));
}

// --- Aggregation ---------------------------------------------------------------------------------

// An outer object as a COM client builds one: it answers IPersist itself and every other interface
// through the object it aggregates (the inner object's own IUnknown, which it holds).
const CLSID kOuterClassID = {0x6D3A1F52, 0x0B7E, 0x4C1D, {0x9A, 0x44, 0x21, 0x5E, 0x8B, 0x70, 0x13, 0xC6}};

class TOuterObject : public TComObject<IPersist> {
public:
    static ComPtr<TOuterObject> Create();

    STDMETHODIMP GetClassID(CLSID* clsid) override {
        if (!clsid)
            return E_POINTER;
        *clsid = kOuterClassID;
        return S_OK;
    }
    // The references held on the outer object.
    ULONG References() {
        AddRef();
        return Release();
    }

    ComPtr<IUnknown> Inner;

private:
    TOuterObject();
    HRESULT QueryOtherInterface(REFIID iid, void** object) override {
        return Inner ? Inner->QueryInterface(iid, object) : E_NOINTERFACE;
    }
};

const TInterfaceEntry kOuterInterfaces[] = {InterfaceEntry<TOuterObject, IPersist>(IID_IPersist)};

TOuterObject::TOuterObject() : TComObject(TModuleCount::None, kOuterInterfaces, nullptr) {}

ComPtr<TOuterObject> TOuterObject::Create() {
    return ComPtr<TOuterObject>(new TOuterObject);
}

class AggregationTest : public TComTest {};

TEST_F(AggregationTest, EachClassMadeWithAnOuterObjectAnswersThroughIt) {
    for (const auto& row : kClasses) {
        SCOPED_TRACE(row.ProgID);
        ComPtr<TOuterObject> outer = TOuterObject::Create();
        ASSERT_EQ(S_OK, ::CoCreateInstance(*row.Clsid, outer->Identity(), CLSCTX_INPROC_SERVER, IID_IUnknown,
                                           reinterpret_cast<void**>(outer->Inner.GetAddressOf())));
        ASSERT_TRUE(outer->Inner);
        EXPECT_NE(outer->Identity(), outer->Inner.Get());
        EXPECT_EQ(1u, outer->References()) << "the inner object holds no reference on its outer object";
        EXPECT_EQ(S_FALSE, LoadedLibraryCanUnloadNow()) << "a live object";

        // The inner object's own IUnknown does not delegate.
        ComPtr<IUnknown> own;
        ASSERT_EQ(S_OK, outer->Inner->QueryInterface(IID_PPV_ARGS(&own)));
        EXPECT_EQ(outer->Inner.Get(), own.Get());
        own.Reset();

        // The class's interfaces, asked of the outer object, are the inner object's, and count on the outer.
        for (const IID* iid : {row.Interface, &IID_ISupportErrorInfo, &IID_IProvideClassInfo}) {
            SCOPED_TRACE(GuidToString(*iid).c_str());
            ComPtr<IUnknown> part;
            ASSERT_EQ(S_OK, outer->Identity()->QueryInterface(*iid, reinterpret_cast<void**>(part.GetAddressOf())));
            EXPECT_EQ(2u, outer->References());
            part->AddRef();
            EXPECT_EQ(3u, outer->References()) << "AddRef of an inner interface counts on the outer object";
            part->Release();
            // QueryInterface of an inner interface is the outer object's: its identity and its IPersist.
            ComPtr<IUnknown> identity;
            ASSERT_EQ(S_OK, part->QueryInterface(IID_PPV_ARGS(&identity)));
            EXPECT_EQ(outer->Identity(), identity.Get());
            identity.Reset();
            ComPtr<IPersist> persist;
            ASSERT_EQ(S_OK, part.As(&persist));
            CLSID clsid{};
            EXPECT_EQ(S_OK, persist->GetClassID(&clsid));
            EXPECT_EQ(kOuterClassID, clsid);
        }
        EXPECT_EQ(1u, outer->References());

        // The outer object's lifetime is the inner object's.
        EXPECT_EQ(S_FALSE, LoadedLibraryCanUnloadNow()) << "the outer object keeps its inner object";
        outer.Reset();
        EXPECT_EQ(S_OK, LoadedLibraryCanUnloadNow()) << "the inner object ends with its outer object";
    }
}

TEST_F(AggregationTest, AnotherInterfaceWithAnOuterObjectIsRefusedAndCreatesNothing) {
    for (const auto& row : kClasses) {
        SCOPED_TRACE(row.ProgID);
        ComPtr<TOuterObject> outer = TOuterObject::Create();
        for (const IID* iid : {row.Interface, &IID_IDispatch, &IID_IClassFactory}) {
            void* object = reinterpret_cast<void*>(1);
            EXPECT_EQ(CLASS_E_NOAGGREGATION,
                      ::CoCreateInstance(*row.Clsid, outer->Identity(), CLSCTX_INPROC_SERVER, *iid, &object));
            EXPECT_EQ(nullptr, object);
        }
        EXPECT_EQ(1u, outer->References()) << "nothing reached the outer object";
        EXPECT_EQ(S_OK, LoadedLibraryCanUnloadNow());
    }

    // The factory refuses before it calls the object class's creator.
    static int created = 0;
    created = 0;
    TAutoObjectFactory factory(CLSID_IEHKepUtils, L"TIEHKepUtils", [](IUnknown* outer) {
        ++created;
        return TIEHKepUtils::CreateObject(outer);
    }, IID_IIEHKepUtils);
    ComPtr<TOuterObject> outer = TOuterObject::Create();
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory.CreateInstance(outer->Identity(), IID_IIEHKepUtils, &object));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(0, created);
    ASSERT_EQ(S_OK, factory.CreateInstance(outer->Identity(), IID_IUnknown,
                                           reinterpret_cast<void**>(outer->Inner.GetAddressOf())));
    EXPECT_EQ(1, created);
    EXPECT_FALSE(CanUnloadModule()) << "the object made in this process is counted";
    outer.Reset();
    EXPECT_TRUE(CanUnloadModule());
}

// --- The embedded type library -------------------------------------------------------------------

struct TTypeRow {
    TYPEKIND Kind;
    const wchar_t* Name;
    const GUID* Guid;
    WORD Flags;
    const wchar_t* Help;
};

const TTypeRow kTypes[] = {
    {TKIND_INTERFACE, L"IZorbexExplorerBar", &IID_IZorbexExplorerBar, TYPEFLAG_FOLEAUTOMATION,
     L"Interface for ZorbexExplorerBar Object"},
    {TKIND_COCLASS, L"ZorbexExplorerBar", &CLSID_ZorbexExplorerBar, TYPEFLAG_FCANCREATE, L"ZorbexExplorerBar"},
    {TKIND_DISPATCH, L"IIEHKepUtils", &IID_IIEHKepUtils,
     TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE, L"Dispatch interface for IEHKepUtils Object"},
    {TKIND_COCLASS, L"IEHKepUtils", &CLSID_IEHKepUtils, TYPEFLAG_FCANCREATE, L"IEHKepUtils Object"},
    {TKIND_DISPATCH, L"IIEHelperBHOGUI", &IID_IIEHelperBHOGUI,
     TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE,
     L"Dispatch interface for IEHelperBHOGUI Object"},
    {TKIND_COCLASS, L"IEHelperBHOGUI", &CLSID_IEHelperBHOGUI, TYPEFLAG_FCANCREATE, L"IEHelperBHOGUI Object"},
    {TKIND_INTERFACE, L"ITrovellaQLToolbar", &IID_ITrovellaQLToolbar, TYPEFLAG_FOLEAUTOMATION,
     L"Interface for TrovellaQLToolbar Object"},
    {TKIND_COCLASS, L"TrovellaQLToolbar", &CLSID_TrovellaQLToolbar, TYPEFLAG_FCANCREATE, L"TrovellaQLToolbar"},
};

struct TMethodRow {
    int Slot;
    MEMBERID Dispid;
    const wchar_t* Name;
    std::vector<std::pair<std::wstring, VARTYPE>> Params; // VT_UNKNOWN for IUnknown*
};

std::vector<TMethodRow> KepUtilsMethods() {
    return {
        {7, 204, L"OpenLinks", {{L"ADocument", VT_VARIANT}, {L"AOnlySel", VT_I4}}},
        {8, 203, L"HighlightDocument", {{L"WB_ID", VT_UI4}, {L"Unk", VT_UNKNOWN}, {L"Srv", VT_UNKNOWN}}},
        {9, 205, L"AddLinks", {{L"ADocument", VT_VARIANT}, {L"ASelected", VT_BOOL}, {L"AElement", VT_VARIANT}}},
        {10, 206, L"AddBanners", {{L"ADocument", VT_VARIANT}, {L"AElement", VT_VARIANT}}},
        {11, 201, L"CaptureScreenShot",
         {{L"AWebBrowser", VT_UNKNOWN}, {L"ARewriteIfExists", VT_BOOL}, {L"AServer", VT_UNKNOWN}}},
    };
}

std::vector<TMethodRow> HelperMethods() {
    return {
        {7, 201, L"MouseOverLink",
         {{L"HWND", VT_I4}, {L"X", VT_I4}, {L"Y", VT_I4}, {L"URL", VT_BSTR}, {L"KeptorServer", VT_UNKNOWN}}},
        {8, 202, L"MouseOutLink", {}},
        {9, 203, L"MouseMove", {{L"X", VT_I4}, {L"Y", VT_I4}}},
    };
}

VARTYPE ParamType(const TYPEDESC& desc) {
    if (desc.vt == VT_PTR && desc.lptdesc->vt == VT_USERDEFINED)
        return VT_UNKNOWN; // IUnknown* through stdole2
    return desc.vt;
}

class TypeLibraryTest : public TComTest {
protected:
    void SetUp() override { ASSERT_EQ(S_OK, ::LoadTypeLibEx(DllPath().c_str(), REGKIND_NONE, &Library)); }
    ComPtr<ITypeLib> Library;

    void CheckMethods(const IID& iid, const std::vector<TMethodRow>& rows) {
        ComPtr<ITypeInfo> dispatchInfo, info;
        ASSERT_EQ(S_OK, Library->GetTypeInfoOfGuid(iid, &dispatchInfo));
        HREFTYPE ref = 0;
        ASSERT_EQ(S_OK, dispatchInfo->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref));
        ASSERT_EQ(S_OK, dispatchInfo->GetRefTypeInfo(ref, &info));
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
        EXPECT_EQ(TKIND_INTERFACE, attr->typekind);
        EXPECT_EQ(rows.size(), attr->cFuncs);
        info->ReleaseTypeAttr(attr);
        for (UINT i = 0; i < rows.size(); ++i) {
            const TMethodRow& row = rows[i];
            SCOPED_TRACE(row.Name);
            FUNCDESC* func = nullptr;
            ASSERT_EQ(S_OK, info->GetFuncDesc(i, &func));
            EXPECT_EQ(row.Dispid, func->memid);
            EXPECT_EQ(row.Slot * test::kSlotBytes, func->oVft);
            EXPECT_EQ(CC_STDCALL, func->callconv);
            EXPECT_EQ(VT_HRESULT, func->elemdescFunc.tdesc.vt);
            ASSERT_EQ(row.Params.size(), static_cast<size_t>(func->cParams));
            BSTR names[8] = {};
            UINT count = 0;
            ASSERT_EQ(S_OK, info->GetNames(func->memid, names, 8, &count));
            EXPECT_EQ(row.Params.size() + 1, count);
            EXPECT_STREQ(row.Name, names[0]);
            for (size_t p = 0; p < row.Params.size(); ++p) {
                EXPECT_STREQ(row.Params[p].first.c_str(), names[p + 1]);
                EXPECT_EQ(row.Params[p].second, ParamType(func->lprgelemdescParam[p].tdesc));
                EXPECT_TRUE(func->lprgelemdescParam[p].paramdesc.wParamFlags & PARAMFLAG_FIN);
            }
            for (UINT n = 0; n < count; ++n)
                ::SysFreeString(names[n]);
            info->ReleaseFuncDesc(func);
        }
        // The dispatch view lists the same DISPIDs in vtable order.
        for (UINT i = 0; i < rows.size(); ++i) {
            FUNCDESC* func = nullptr;
            ASSERT_EQ(S_OK, dispatchInfo->GetFuncDesc(i + 7, &func));
            EXPECT_EQ(rows[i].Dispid, func->memid);
            dispatchInfo->ReleaseFuncDesc(func);
        }
    }
};

TEST_F(TypeLibraryTest, LibraryAttributesAndImport) {
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(S_OK, Library->GetLibAttr(&attr));
    EXPECT_EQ(GuidToString(attr->guid), kLibId);
    EXPECT_EQ(1, attr->wMajorVerNum);
    EXPECT_EQ(0, attr->wMinorVerNum);
    EXPECT_EQ(0x0409u, attr->lcid);
    EXPECT_EQ(test::kSysKind, attr->syskind);
    Library->ReleaseTLibAttr(attr);
    TBStr name, help;
    ASSERT_EQ(S_OK, Library->GetDocumentation(-1, name.Receive(), help.Receive(), nullptr, nullptr));
    EXPECT_EQ(L"ZorbexGUI", name.Str());
    EXPECT_EQ(L"ZorbexGUI Library", help.Str());

    // IUnknown comes from stdole2.tlb 2.0.
    ComPtr<ITypeInfo> bar, base;
    ComPtr<ITypeLib> imported;
    ASSERT_EQ(S_OK, Library->GetTypeInfoOfGuid(IID_IZorbexExplorerBar, &bar));
    HREFTYPE ref = 0;
    ASSERT_EQ(S_OK, bar->GetRefTypeOfImplType(0, &ref));
    ASSERT_EQ(S_OK, bar->GetRefTypeInfo(ref, &base));
    UINT index = 0;
    ASSERT_EQ(S_OK, base->GetContainingTypeLib(&imported, &index));
    ASSERT_EQ(S_OK, imported->GetLibAttr(&attr));
    EXPECT_EQ(L"{00020430-0000-0000-C000-000000000046}", GuidToString(attr->guid));
    EXPECT_EQ(2, attr->wMajorVerNum);
    imported->ReleaseTLibAttr(attr);
}

TEST_F(TypeLibraryTest, TypesInOrderWithTheirAttributes) {
    ASSERT_EQ(std::size(kTypes), Library->GetTypeInfoCount());
    for (UINT i = 0; i < std::size(kTypes); ++i) {
        const TTypeRow& row = kTypes[i];
        SCOPED_TRACE(row.Name);
        ComPtr<ITypeInfo> info;
        ASSERT_EQ(S_OK, Library->GetTypeInfo(i, &info));
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
        EXPECT_EQ(row.Kind, attr->typekind);
        EXPECT_EQ(GuidToString(*row.Guid), GuidToString(attr->guid));
        if (row.Kind == TKIND_DISPATCH) {
            // OLE Automation reports the dispatch view of a dual interface without FOLEAUTOMATION;
            // the flag is on its vtable view.
            EXPECT_EQ(row.Flags & ~TYPEFLAG_FOLEAUTOMATION, attr->wTypeFlags);
            HREFTYPE ref = 0;
            ComPtr<ITypeInfo> vtableInfo;
            ASSERT_EQ(S_OK, info->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref));
            ASSERT_EQ(S_OK, info->GetRefTypeInfo(ref, &vtableInfo));
            TYPEATTR* vtableAttr = nullptr;
            ASSERT_EQ(S_OK, vtableInfo->GetTypeAttr(&vtableAttr));
            EXPECT_EQ(TKIND_INTERFACE, vtableAttr->typekind);
            EXPECT_TRUE(vtableAttr->wTypeFlags & TYPEFLAG_FOLEAUTOMATION);
            EXPECT_TRUE(vtableAttr->wTypeFlags & TYPEFLAG_FDUAL);
            vtableInfo->ReleaseTypeAttr(vtableAttr);
        } else {
            EXPECT_EQ(row.Flags, attr->wTypeFlags);
        }
        EXPECT_EQ(1, attr->wMajorVerNum);
        EXPECT_EQ(0, attr->wMinorVerNum);
        if (row.Kind == TKIND_INTERFACE) {
            EXPECT_EQ(0, attr->cFuncs);
            EXPECT_EQ(3 * test::kSlotBytes, attr->cbSizeVft) << "the three functions of IUnknown";
        }
        if (row.Kind == TKIND_COCLASS) {
            ASSERT_EQ(1, attr->cImplTypes);
            INT flags = 0;
            EXPECT_EQ(S_OK, info->GetImplTypeFlags(0, &flags));
            EXPECT_EQ(IMPLTYPEFLAG_FDEFAULT, flags);
            HREFTYPE ref = 0;
            ComPtr<ITypeInfo> defaultInfo;
            ASSERT_EQ(S_OK, info->GetRefTypeOfImplType(0, &ref));
            ASSERT_EQ(S_OK, info->GetRefTypeInfo(ref, &defaultInfo));
            TBStr defaultName;
            defaultInfo->GetDocumentation(-1, defaultName.Receive(), nullptr, nullptr, nullptr);
            EXPECT_EQ(kTypes[i - 1].Name, defaultName.Str());
        }
        info->ReleaseTypeAttr(attr);
        TBStr name, help;
        ASSERT_EQ(S_OK, info->GetDocumentation(-1, name.Receive(), help.Receive(), nullptr, nullptr));
        EXPECT_EQ(row.Name, name.Str());
        EXPECT_EQ(row.Help, help.Str());
    }
}

TEST_F(TypeLibraryTest, KepUtilsMembers) {
    CheckMethods(IID_IIEHKepUtils, KepUtilsMethods());
}

TEST_F(TypeLibraryTest, HelperMembers) {
    CheckMethods(IID_IIEHelperBHOGUI, HelperMethods());
}

// --- The four objects through COM ----------------------------------------------------------------

class ObjectTest : public TComTest {};

TEST_F(ObjectTest, AutomationObjectsServeDispatchFromTheTypeLibrary) {
    TLibrary library;
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, library.GetClassObject(CLSID_IEHKepUtils, IID_PPV_ARGS(&factory)));
    ComPtr<IIEHKepUtils> utils;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&utils)));
    factory.Reset();

    struct {
        const wchar_t* Name;
        DISPID Id;
    } names[] = {{L"OpenLinks", 204}, {L"highlightdocument", 203}, {L"ADDLINKS", 205}, {L"AddBanners", 206},
                 {L"CaptureScreenShot", 201}};
    for (const auto& entry : names) {
        LPOLESTR name = const_cast<LPOLESTR>(entry.Name);
        DISPID id = 0;
        EXPECT_EQ(S_OK, utils->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id)) << entry.Name;
        EXPECT_EQ(entry.Id, id) << entry.Name;
    }
    UINT count = 0;
    EXPECT_EQ(S_OK, utils->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);

    ComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(S_OK, utils.As(&support));
    EXPECT_EQ(S_OK, support->InterfaceSupportsErrorInfo(IID_IIEHKepUtils));
    EXPECT_EQ(GuidToString(CLSID_IEHKepUtils), GuidToString(ProvidedClassID(utils.Get())));
}

TEST_F(ObjectTest, BandsAnswerTheirOwnInterfaceOnly) {
    TLibrary library;
    struct {
        const CLSID* Clsid;
        const IID* Own;
        const IID* Other;
    } rows[] = {{&CLSID_ZorbexExplorerBar, &IID_IZorbexExplorerBar, &IID_ITrovellaQLToolbar},
                {&CLSID_TrovellaQLToolbar, &IID_ITrovellaQLToolbar, &IID_IZorbexExplorerBar}};
    for (const auto& row : rows) {
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(S_OK, library.GetClassObject(*row.Clsid, IID_PPV_ARGS(&factory)));
        ComPtr<IUnknown> band, own, other;
        ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&band)));
        EXPECT_EQ(S_OK, band->QueryInterface(*row.Own, &own));
        EXPECT_EQ(E_NOINTERFACE, band->QueryInterface(*row.Other, &other));
    }
}

} // namespace
