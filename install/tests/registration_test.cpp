// The uninstall command's format and the registry writes beyond what a whole
// installation shows: rewriting an earlier entry, sizes, a settings key refused.
#include "install/registration.h"

#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/scoped_handle.h"
#include "setup/install_log.h"
#include "testbed/product_state.h"
#include "testbed/test_helpers.h"

namespace {

const wchar_t kUninstaller[] = L"C:\\Program Files (x86)\\ORBEK\\Portvane\\Uninst.exe";
const wchar_t kApplication[] = L"C:\\Program Files (x86)\\ORBEK\\Portvane\\Portvane.exe";

class Registration : public testing::Test {
  protected:
    void SetUp() override {
        ResetProductState();
        logBefore_ = ReadLogText();
    }
    void TearDown() override { ResetProductState(); }

    std::wstring AddedLog() const { return std::wstring(ReadLogText()).substr(logBefore_.size()); }

    std::wstring logBefore_;
};

}  // namespace

// Blanks in the install folder or the display name never change the count of three.
TEST(UninstallCommand, SplitsIntoExactlyItsThreeParts) {
    const std::wstring longest = L"C:\\" + std::wstring(245, L'x') + L"\\Uninst.exe";
    ASSERT_EQ(259u, longest.size());
    const std::pair<std::wstring, std::wstring> cases[] = {
        {kUninstaller, L"Portvane"},
        {L"D:\\a b\\c d\\Uninst.exe", L"Port vane 2"},
        {longest, L"Portvane"}};
    for (const auto& [uninstaller, displayName] : cases) {
        wchar_t command[kUninstallCommandChars];
        ASSERT_TRUE(FormatUninstallCommand(command, uninstaller.c_str(), displayName.c_str()));
        int count = 0;
        wchar_t** arguments = CommandLineToArgvW(command, &count);
        ScopedLocalMemory owner(arguments);
        ASSERT_EQ(3, count) << command;
        EXPECT_EQ(uninstaller, arguments[0]);
        EXPECT_STREQ(L"ORBEK_Portvane", arguments[1]);
        EXPECT_EQ(displayName, arguments[2]);
    }
}

TEST_F(Registration, EarlierEntryIsRewrittenInPlaceWithTheSizeInKib) {
    const wchar_t oldText[] = L"old";
    for (const wchar_t* name : {L"DisplayName", L"EstimatedSize"}) {
        ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, kUninstallEntryKey, name,
                                                 REG_SZ, oldText, sizeof(oldText)));
    }
    // The byte total in KiB, rounded down, up to the largest total.
    const std::pair<unsigned, DWORD> sizes[] = {{0, 0},    {1023, 0},       {1024, 1},
                                                {2047, 1}, {2500000, 2441}, {0xFFFFFFFFu, 4194303}};
    for (const auto& [bytes, kib] : sizes) {
        ASSERT_TRUE(WriteUninstallEntry(kUninstaller, kApplication, bytes));
        const RegistryValue size =
            ReadValue(HKEY_LOCAL_MACHINE, kUninstallEntryKey, L"EstimatedSize");
        EXPECT_TRUE(size.type == REG_DWORD && size.number == kib) << bytes;
    }
    EXPECT_EQ(L"Portvane", ReadValue(HKEY_LOCAL_MACHINE, kUninstallEntryKey, L"DisplayName").text);
    EXPECT_EQ(11u, ValueCount(HKEY_LOCAL_MACHINE, kUninstallEntryKey));
    EXPECT_EQ(1, ProductUninstallEntries());
    EXPECT_EQ(L"", AddedLog());
}

// An entry without its command would be listed but could not uninstall.
TEST_F(Registration, EntryThatCouldNotUninstallFailsTheInstallation) {
    const std::wstring uninstaller = L"C:\\" + std::wstring(1010, L'x') + L"\\Uninst.exe";
    EXPECT_FALSE(WriteUninstallEntry(uninstaller.c_str(), kApplication, 0));
    EXPECT_EQ(
        L"アプリケーション設定を保存できません。\n" + OsMessageLine(ERROR_FILENAME_EXCED_RANGE),
        AddedLog());
}

TEST_F(Registration, UserSettingsKeyThatCannotBeCreatedIsPassedOverSilently) {
    // A lasting key cannot be created below a volatile one.
    ScopedRegistryKey volatileMaker;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\orbek", 0, nullptr,
                                             REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                             volatileMaker.receive(), nullptr));
    WriteProductSettingsKeys();

    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettingsKey));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kSettingsKey));
    EXPECT_EQ(L"", AddedLog());
}
