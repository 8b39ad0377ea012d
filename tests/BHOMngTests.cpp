// Toolbar settings: ReadSetting against keys of its own, and the five switches of TKeptorBHO in the
// product's settings key (saved before and restored after each test).
#include <windows.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "com/ComSupportUnit.h"
#include "com/RegistryUnit.h"
#include "server/BHOMngUnit.h"
#include "support/TestSupport.h"

using namespace zorbex;
using namespace zorbex::test;

namespace {

const std::wstring kTestRoot = L"Software\\ZorbexTests";

struct TStoredValue {
    DWORD Type;
    std::vector<BYTE> Data;
};

std::optional<TStoredValue> QueryValue(HKEY root, const std::wstring& path, const std::wstring& name) {
    TRegKey key = OpenKey(root, path, KEY_QUERY_VALUE);
    if (!key)
        return std::nullopt;
    DWORD type = 0, size = 0;
    if (::RegQueryValueExW(key.Get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return std::nullopt;
    TStoredValue value{type, std::vector<BYTE>(size)};
    if (::RegQueryValueExW(key.Get(), name.c_str(), nullptr, &type, value.Data.data(), &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    value.Data.resize(size);
    return value;
}

std::vector<BYTE> DwordBytes(DWORD value) {
    std::vector<BYTE> bytes(sizeof(value));
    std::memcpy(bytes.data(), &value, sizeof(value));
    return bytes;
}

std::vector<BYTE> StringBytes(const std::wstring& text) {
    const BYTE* begin = reinterpret_cast<const BYTE*>(text.c_str());
    return std::vector<BYTE>(begin, begin + (text.size() + 1) * sizeof(wchar_t));
}

void StoreValue(HKEY root, const std::wstring& path, const std::wstring& name, DWORD type,
                const std::vector<BYTE>& data) {
    TRegKey key = OpenOrCreateKey(root, path);
    ASSERT_TRUE(key);
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key.Get(), name.c_str(), 0, type, data.data(),
                                              static_cast<DWORD>(data.size())));
}

bool KeyExists(HKEY root, const std::wstring& path) {
    return static_cast<bool>(OpenKey(root, path, KEY_READ));
}

// ReadSetting on a key of this test process, removed before and after each test.
class ReadSettingTest : public TComTest {
protected:
    void SetUp() override { DeleteRegTree(HKEY_CURRENT_USER, Key); }
    void TearDown() override {
        DeleteRegTree(HKEY_CURRENT_USER, Key);
        DeleteRegKey(HKEY_CURRENT_USER, kTestRoot); // only when no other test process still uses it
        TComTest::TearDown();
    }
    const std::wstring Key = kTestRoot + L"\\Settings" + std::to_wstring(::GetCurrentProcessId());
};

struct TSettingCase {
    const char* Name;
    std::optional<TStoredValue> Before; // nothing: the value is missing
    bool Default;
    bool Expected;
    DWORD Type;              // stored afterwards
    std::vector<BYTE> After; // stored afterwards
};

TEST_F(ReadSettingTest, ReadsFlagsAndReplacesMissingOrMistypedValuesByTheDefault) {
    const TSettingCase cases[] = {
        {"missing, default on", std::nullopt, true, true, REG_DWORD, DwordBytes(1)},
        {"missing, default off", std::nullopt, false, false, REG_DWORD, DwordBytes(0)},
        {"zero stays zero", TStoredValue{REG_DWORD, DwordBytes(0)}, true, false, REG_DWORD, DwordBytes(0)},
        {"any non-zero is on", TStoredValue{REG_DWORD, DwordBytes(7)}, false, true, REG_DWORD, DwordBytes(7)},
        {"a string is replaced", TStoredValue{REG_SZ, StringBytes(L"0")}, true, true, REG_DWORD,
         DwordBytes(1)},
        {"binary is replaced", TStoredValue{REG_BINARY, DwordBytes(1)}, false, false, REG_DWORD,
         DwordBytes(0)},
        {"big-endian is replaced", TStoredValue{REG_DWORD_BIG_ENDIAN, DwordBytes(0)}, true, true, REG_DWORD,
         DwordBytes(1)},
        {"a 64-bit value is replaced", TStoredValue{REG_QWORD, std::vector<BYTE>(8, 0)}, true, true,
         REG_DWORD, DwordBytes(1)},
        {"a short DWORD is replaced", TStoredValue{REG_DWORD, std::vector<BYTE>{0, 0}}, true, true, REG_DWORD,
         DwordBytes(1)},
        {"an empty DWORD is replaced", TStoredValue{REG_DWORD, {}}, true, true, REG_DWORD, DwordBytes(1)},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.Name);
        DeleteRegTree(HKEY_CURRENT_USER, Key);
        if (row.Before)
            StoreValue(HKEY_CURRENT_USER, Key, L"Highlight enabled", row.Before->Type, row.Before->Data);
        EXPECT_EQ(row.Expected, ReadSetting(HKEY_CURRENT_USER, Key, L"Highlight enabled", row.Default));
        auto after = QueryValue(HKEY_CURRENT_USER, Key, L"Highlight enabled");
        ASSERT_TRUE(after);
        EXPECT_EQ(row.Type, after->Type);
        EXPECT_EQ(row.After, after->Data);
        // A second read sees what the first one left.
        EXPECT_EQ(row.Expected, ReadSetting(HKEY_CURRENT_USER, Key, L"Highlight enabled", !row.Default));
    }
}

TEST_F(ReadSettingTest, CreatesTheMissingKeyAndEveryLevelAboveIt) {
    const std::wstring deep = Key + L"\\Calverin\\Trovella\\Settings";
    ASSERT_FALSE(KeyExists(HKEY_CURRENT_USER, Key));
    EXPECT_TRUE(ReadSetting(HKEY_CURRENT_USER, deep, L"Enabled", true));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, deep));
}

TEST_F(ReadSettingTest, SeesEveryChangeWithoutCaching) {
    EXPECT_TRUE(ReadSetting(HKEY_CURRENT_USER, Key, L"Enabled", true));
    StoreValue(HKEY_CURRENT_USER, Key, L"Enabled", REG_DWORD, DwordBytes(0));
    EXPECT_FALSE(ReadSetting(HKEY_CURRENT_USER, Key, L"Enabled", true));
    StoreValue(HKEY_CURRENT_USER, Key, L"Enabled", REG_DWORD, DwordBytes(1));
    EXPECT_TRUE(ReadSetting(HKEY_CURRENT_USER, Key, L"Enabled", true));
}

TEST_F(ReadSettingTest, AKeyThatCannotBeOpenedReadsFalseWhateverTheDefault) {
    // A handle that is no key.
    HKEY invalid = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x7E57BAD0));
    EXPECT_FALSE(ReadSetting(invalid, L"Settings", L"Enabled", true));
    EXPECT_FALSE(ReadSetting(nullptr, L"Settings", L"Enabled", true));

    // A volatile key cannot get a lasting subkey.
    const std::wstring volatileKey = Key + L"\\Volatile";
    TRegKey created;
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegCreateKeyExW(HKEY_CURRENT_USER, volatileKey.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                                KEY_ALL_ACCESS, nullptr, created.Receive(), nullptr));
    created.Reset();
    EXPECT_FALSE(ReadSetting(HKEY_CURRENT_USER, volatileKey + L"\\Settings", L"Enabled", true));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, volatileKey + L"\\Settings"));
}

// The product's own settings key, as the toolbar reads it. What a user of this prefix had stored
// there is copied aside first and put back afterwards.
class KeptorBHOTest : public TComTest {
protected:
    void SetUp() override {
        for (const auto* path : {L"Software\\Calverin", L"Software\\Calverin\\Trovella"})
            Existed.push_back(KeyExists(HKEY_CURRENT_USER, path));
        if (KeyExists(HKEY_CURRENT_USER, SettingsKeyPath())) {
            TRegKey backup = OpenOrCreateKey(HKEY_CURRENT_USER, BackupKey);
            ASSERT_TRUE(backup);
            ASSERT_EQ(ERROR_SUCCESS,
                      ::RegCopyTreeW(HKEY_CURRENT_USER, SettingsKeyPath().c_str(), backup.Get()));
            HasBackup = true;
        }
        DeleteRegTree(HKEY_CURRENT_USER, SettingsKeyPath());
    }
    void TearDown() override {
        DeleteRegTree(HKEY_CURRENT_USER, SettingsKeyPath());
        if (HasBackup) {
            TRegKey settings = OpenOrCreateKey(HKEY_CURRENT_USER, SettingsKeyPath());
            EXPECT_EQ(ERROR_SUCCESS, ::RegCopyTreeW(HKEY_CURRENT_USER, BackupKey.c_str(), settings.Get()));
            DeleteRegTree(HKEY_CURRENT_USER, BackupKey);
            DeleteRegKey(HKEY_CURRENT_USER, kTestRoot);
        }
        if (!Existed.empty() && !Existed[1])
            DeleteRegTree(HKEY_CURRENT_USER, L"Software\\Calverin\\Trovella");
        if (!Existed.empty() && !Existed[0])
            DeleteRegTree(HKEY_CURRENT_USER, L"Software\\Calverin");
        TComTest::TearDown();
    }

    const std::wstring BackupKey = kTestRoot + L"\\SettingsBackup" + std::to_wstring(::GetCurrentProcessId());
    std::vector<bool> Existed;
    bool HasBackup = false;
};

TEST_F(KeptorBHOTest, TheSettingsKeyIsJoinedFromTheMakerAndProductNamesAndReadAfresh) {
    EXPECT_EQ(L"Software\\Calverin\\Trovella\\Settings", SettingsKeyPath());
    // The shared settings keep nothing: every read sees the key as it is now.
    for (DWORD value : {0u, 1u, 0u}) {
        StoreValue(HKEY_CURRENT_USER, SettingsKeyPath(), L"Enabled", REG_DWORD, DwordBytes(value));
        EXPECT_EQ(value != 0, KeptorBHO().IsEnabled());
    }
}

struct TSwitch {
    const wchar_t* ValueName;
    bool (TKeptorBHO::*Read)() const noexcept;
};

const TSwitch kSwitches[] = {
    {L"Enabled", &TKeptorBHO::IsEnabled},
    {L"Banner killer enabled", &TKeptorBHO::IsBannerKillerEnabled},
    {L"Popup killer enabled", &TKeptorBHO::IsPopupKillerEnabled},
    {L"Highlight enabled", &TKeptorBHO::IsHighlightEnabled},
    {L"Link hint enabled", &TKeptorBHO::IsLinkHintEnabled},
};

TEST_F(KeptorBHOTest, EachSwitchReadsItsOwnValueWithDefaultOn) {
    TKeptorBHO settings;
    for (const auto& row : kSwitches) {
        SCOPED_TRACE(testing::Message() << std::string(row.ValueName, row.ValueName + wcslen(row.ValueName)));
        DeleteRegTree(HKEY_CURRENT_USER, SettingsKeyPath());
        // Absent key: created, 1 stored, on; no other value is touched.
        EXPECT_TRUE((settings.*row.Read)());
        auto stored = QueryValue(HKEY_CURRENT_USER, SettingsKeyPath(), row.ValueName);
        ASSERT_TRUE(stored);
        EXPECT_EQ(static_cast<DWORD>(REG_DWORD), stored->Type);
        EXPECT_EQ(DwordBytes(1), stored->Data);
        for (const auto& other : kSwitches) {
            if (&other != &row) {
                EXPECT_FALSE(QueryValue(HKEY_CURRENT_USER, SettingsKeyPath(), other.ValueName));
            }
        }
        // The application switches it off: 0 reads off and stays 0.
        StoreValue(HKEY_CURRENT_USER, SettingsKeyPath(), row.ValueName, REG_DWORD, DwordBytes(0));
        EXPECT_FALSE((settings.*row.Read)());
        EXPECT_FALSE((KeptorBHO().*row.Read)());
        EXPECT_EQ(DwordBytes(0), QueryValue(HKEY_CURRENT_USER, SettingsKeyPath(), row.ValueName)->Data);
    }
}

TEST_F(KeptorBHOTest, AHighlightValueStoredAsAStringIsOverwrittenWithOne) {
    StoreValue(HKEY_CURRENT_USER, SettingsKeyPath(), L"Highlight enabled", REG_SZ, StringBytes(L"no"));
    EXPECT_TRUE(KeptorBHO().IsHighlightEnabled());
    auto stored = QueryValue(HKEY_CURRENT_USER, SettingsKeyPath(), L"Highlight enabled");
    ASSERT_TRUE(stored);
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), stored->Type);
    EXPECT_EQ(DwordBytes(1), stored->Data);
}

} // namespace
