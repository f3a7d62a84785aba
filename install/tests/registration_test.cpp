#include "install/registration.h"

#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>

#include "install/tests/installed_state.h"
#include "install/tests/log_match.h"
#include "platform/scoped_handle.h"
#include "setup/install_log.h"
#include "testbed/product_state.h"

namespace {

const wchar_t kUninstaller[] = L"C:\\Program Files (x86)\\ORBEK\\Portvane\\Uninst.exe";
const wchar_t kApplication[] = L"C:\\Program Files (x86)\\ORBEK\\Portvane\\Portvane.exe";
const wchar_t kCommand[] =
    L"\"C:\\Program Files (x86)\\ORBEK\\Portvane\\Uninst.exe\" \"ORBEK_Portvane\" \"Portvane\"";

std::vector<std::wstring> SplitCommand(const wchar_t* command) {
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(command, &count);
    ScopedLocalMemory owner(arguments);
    std::vector<std::wstring> split;
    for (int i = 0; arguments != nullptr && i < count; ++i) {
        split.emplace_back(arguments[i]);
    }
    return split;
}

class Registration : public ::testing::Test {
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

TEST(UninstallCommand, PathWithBlanksSplitsIntoExactlyThreeArguments) {
    wchar_t command[kUninstallCommandChars];
    ASSERT_TRUE(FormatUninstallCommand(command, kUninstaller, L"Portvane"));
    EXPECT_STREQ(kCommand, command);
    const std::vector<std::wstring> split = SplitCommand(command);
    ASSERT_EQ(3u, split.size());
    EXPECT_EQ(kUninstaller, split[0]);
    EXPECT_EQ(L"ORBEK_Portvane", split[1]);
    EXPECT_EQ(L"Portvane", split[2]);

    // A display name with blanks stays one argument too.
    ASSERT_TRUE(FormatUninstallCommand(command, L"D:\\a b\\c d\\Uninst.exe", L"Port vane 2"));
    EXPECT_EQ(3u, SplitCommand(command).size());
    EXPECT_EQ(L"Port vane 2", SplitCommand(command)[2]);
}

TEST(UninstallCommand, LongestInstallPathStillFits) {
    const std::wstring longest = L"C:\\" + std::wstring(245, L'x') + L"\\Uninst.exe";
    ASSERT_EQ(259u, longest.size());
    wchar_t command[kUninstallCommandChars];
    ASSERT_TRUE(FormatUninstallCommand(command, longest.c_str(), L"Portvane"));
    EXPECT_EQ(longest, SplitCommand(command)[0]);
}

TEST_F(Registration, UninstallEntryHoldsElevenValuesWithTheirTypesAndSizes) {
    ASSERT_TRUE(WriteUninstallEntry(kUninstaller, kApplication, 2500000));

    EXPECT_EQ(11u, ValueCount(HKEY_LOCAL_MACHINE, kUninstallEntryKey));
    EXPECT_TRUE(UninstallTextIs(L"DisplayName", L"Portvane"));
    EXPECT_TRUE(UninstallTextIs(L"UninstallString", kCommand));
    EXPECT_TRUE(UninstallTextIs(L"DisplayVersion", L"Ver.1.0.0"));
    EXPECT_TRUE(UninstallTextIs(L"Publisher", L"ORBEK"));
    EXPECT_TRUE(UninstallTextIs(L"DisplayIcon", kApplication));
    EXPECT_TRUE(UninstallTextIs(L"HelpLink", L"https://www.orbek.co.jp/"));
    EXPECT_TRUE(UninstallTextIs(L"URLInfoAbout", L"https://www.orbek.co.jp/"));
    EXPECT_TRUE(UninstallTextIs(L"URLUpdateInfo", L"https://www.orbek.co.jp/"));
    EXPECT_TRUE(UninstallNumberIs(L"NoModify", 1));
    EXPECT_TRUE(UninstallNumberIs(L"NoRepair", 1));
    EXPECT_TRUE(UninstallNumberIs(L"EstimatedSize", 2441));

    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallEntryKey, KEY_WOW64_64KEY));
    EXPECT_EQ(L"", AddedLog());
}

TEST_F(Registration, EstimatedSizeIsTheByteTotalInKibRoundedDown) {
    const struct {
        unsigned bytes;
        DWORD kib;
    } cases[] = {{0, 0}, {1023, 0}, {1024, 1}, {2047, 1}, {0xFFFFFFFFu, 4194303}};
    for (const auto& sample : cases) {
        ASSERT_TRUE(WriteUninstallEntry(kUninstaller, kApplication, sample.bytes));
        EXPECT_TRUE(UninstallNumberIs(L"EstimatedSize", sample.kib));
    }
}

TEST_F(Registration, ExistingEntryIsOverwrittenInPlace) {
    const wchar_t oldName[] = L"old name";
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, kUninstallEntryKey, L"DisplayName",
                                             REG_SZ, oldName, sizeof(oldName)));
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, kUninstallEntryKey,
                                             L"EstimatedSize", REG_SZ, oldName, sizeof(oldName)));

    ASSERT_TRUE(WriteUninstallEntry(kUninstaller, kApplication, 4096));
    EXPECT_TRUE(UninstallTextIs(L"DisplayName", L"Portvane"));
    EXPECT_TRUE(UninstallNumberIs(L"EstimatedSize", 4));
    EXPECT_EQ(11u, ValueCount(HKEY_LOCAL_MACHINE, kUninstallEntryKey));

    ScopedRegistryKey root;
    DWORD entries = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallRootKeyPath, 0, KEY_READ,
                                           root.receive()));
    RegQueryInfoKeyW(root.get(), nullptr, nullptr, nullptr, &entries, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(1u, entries);
}

TEST_F(Registration, UninstallKeyThatCannotBeCreatedIsLoggedWithTheSystemMessage) {
    ASSERT_TRUE(MakeUninstallRootVolatile());
    const bool written = WriteUninstallEntry(kUninstaller, kApplication, 4096);
    RestoreUninstallRoot();

    EXPECT_FALSE(written);
    EXPECT_TRUE(LogMatches(AddedLog(), {LogLine(L"アプリケーション設定を保存できません。"),
                                        OsMessageLine(ERROR_CHILD_MUST_BE_VOLATILE)}))
        << AddedLog();
}

TEST_F(Registration, SettingsKeysMarkTheUserAndLeaveTheMachineKeyEmpty) {
    WriteProductSettingsKeys();

    const RegistryValue mark = ReadValue(HKEY_CURRENT_USER, kSettingsKey, L"Install");
    ASSERT_TRUE(mark.found);
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), mark.type);
    EXPECT_EQ(1u, mark.number);
    EXPECT_EQ(1u, ValueCount(HKEY_CURRENT_USER, kSettingsKey));

    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kSettingsKey, KEY_WOW64_32KEY));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kSettingsKey, KEY_WOW64_64KEY));
    EXPECT_EQ(0u, ValueCount(HKEY_LOCAL_MACHINE, kSettingsKey));
    EXPECT_EQ(L"", AddedLog());
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
