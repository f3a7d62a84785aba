// Removing an earlier installation, against Wine's real registry, service
// manager and files. The earlier installation is laid out as the installer
// leaves it: files, running services, shortcuts, data folders, settings keys and
// the uninstall entry.
#include "services/previous_installation.h"

#include <gtest/gtest.h>
#include <windows.h>
// These need windows.h first.
#include <shlobj.h>

#include <string>
#include <vector>

#include "platform/scoped_handle.h"
#include "services/components.h"
#include "services/service_control.h"
#include "services/tests/scratch_drive.h"
#include "services/tests/service_test_support.h"
#include "testbed/product_state.h"

namespace {

const std::wstring kUninstallRoot = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const wchar_t* const kProductFiles[] = {L"Portvane.exe", L"Portvane_PService.exe",
                                        L"Portvane_DService.exe", L"Uninst.exe"};

std::wstring SpecialFolder(int csidl) {
    wchar_t path[MAX_PATH] = L"";
    SHGetFolderPathW(nullptr, csidl, nullptr, 0, path);
    return path;
}

std::wstring DataFolder(int csidl) {
    return SpecialFolder(csidl) + L"\\ORBEK\\Portvane";
}

std::wstring UninstallCommand(const std::wstring& folder) {
    return L"\"" + folder + L"\\Uninst.exe\" \"ORBEK_Portvane\" \"Portvane\"";
}

void WriteValue(HKEY key, const wchar_t* name, DWORD type, const void* data, size_t bytes) {
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data),
                                            static_cast<DWORD>(bytes)));
}

void WriteText(HKEY key, const wchar_t* name, const std::wstring& text) {
    WriteValue(key, name, REG_SZ, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
}

// The uninstall entry as the installer writes it, under the name given.
void WriteUninstallEntry(const std::wstring& keyName, const std::wstring& uninstallString) {
    ScopedRegistryKey entry;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_LOCAL_MACHINE, (kUninstallRoot + L"\\" + keyName).c_str(), 0,
                              nullptr, 0, KEY_ALL_ACCESS, nullptr, entry.receive(), nullptr));
    WriteText(entry.get(), L"DisplayName", L"Portvane");
    WriteText(entry.get(), L"UninstallString", uninstallString);
    WriteText(entry.get(), L"Publisher", L"ORBEK");
}

void WriteRawUninstallString(const std::wstring& keyName, const std::vector<wchar_t>& data) {
    ScopedRegistryKey entry;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, (kUninstallRoot + L"\\" + keyName).c_str(), 0,
                            KEY_ALL_ACCESS, entry.receive()));
    WriteValue(entry.get(), L"UninstallString", REG_SZ, data.data(), data.size() * sizeof(wchar_t));
}

// Subkeys of Uninstall whose name matches ORBEK_Portvane in any case.
int ProductEntries() {
    ScopedRegistryKey root;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallRoot.c_str(), 0, KEY_READ, root.receive()) !=
        ERROR_SUCCESS) {
        return 0;
    }
    int found = 0;
    wchar_t name[1024];
    for (DWORD index = 0;; ++index) {
        DWORD chars = 1024;
        const LONG status =
            RegEnumKeyExW(root.get(), index, name, &chars, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) {
            return found;
        }
        found += status == ERROR_SUCCESS && _wcsicmp(name, L"ORBEK_Portvane") == 0;
    }
}

bool InstallMarkSet() {
    DWORD value = 0;
    DWORD bytes = sizeof(value);
    return RegGetValueW(HKEY_CURRENT_USER, L"Software\\orbek\\Portvane", L"Install",
                        RRF_RT_REG_DWORD, nullptr, &value, &bytes) == ERROR_SUCCESS &&
           value == 1;
}

bool MachineSettingsKeyExists() {
    ScopedRegistryKey key;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\orbek\\Portvane", 0, KEY_READ,
                         key.receive()) == ERROR_SUCCESS;
}

class PreviousInstallationTest : public ProductStateTest {
  protected:
    void SetUp() override {
        ProductStateTest::SetUp();
        defaultFolder_ = DefaultInstallFolder();
        otherFolder_ = SpecialFolder(CSIDL_WINDOWS).substr(0, 3) + L"Apps\\Portvane Old";
        DeleteTree(otherFolder_);
    }

    void TearDown() override {
        DeleteTree(otherFolder_);
        RemoveDirectoryW((SpecialFolder(CSIDL_WINDOWS).substr(0, 3) + L"Apps").c_str());
        DeleteKeyNamed(L"orbek_portvane");
        ProductStateTest::TearDown();
    }

    static void DeleteKeyNamed(const wchar_t* name) {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, (kUninstallRoot + L"\\" + name).c_str());
    }

    // Files, running services, shortcuts, data folders and settings keys in folder;
    // the uninstall entry is left to each test.
    void MakeInstallation(const std::wstring& folder) {
        for (const wchar_t* file : kProductFiles) {
            CopyStandin(file, folder);
        }
        WriteTextFile(folder + L"\\Readme.rtf", "{\\rtf1 readme}");
        SetInstallFolder(folder);
        ASSERT_TRUE(InstallComponents());
        ASSERT_TRUE(WaitForServiceState(kDService, SERVICE_RUNNING, 10000));
        WriteTextFile(StartMenuShortcutPath(), "link");
        WriteTextFile(DesktopShortcutPath(), "link");
        for (int csidl : {CSIDL_COMMON_APPDATA, CSIDL_LOCAL_APPDATA}) {
            CreateFolderTree(DataFolder(csidl));
            WriteTextFile(DataFolder(csidl) + L"\\settings.db", "data");
        }
        ScopedRegistryKey user;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\orbek\\Portvane", 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, user.receive(), nullptr));
        const DWORD one = 1;
        WriteValue(user.get(), L"Install", REG_DWORD, &one, sizeof(one));
        ScopedRegistryKey machine;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\orbek\\Portvane", 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, machine.receive(), nullptr));
    }

    // Nothing of the installation in folder was touched.
    void ExpectUntouched(const std::wstring& folder) {
        for (const wchar_t* file : kProductFiles) {
            EXPECT_TRUE(Exists(folder + L"\\" + file)) << testing::PrintToString(file);
        }
        EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(kPService));
        EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(kDService));
        EXPECT_TRUE(Exists(StartMenuShortcutPath()));
        EXPECT_TRUE(Exists(DesktopShortcutPath()));
        EXPECT_TRUE(Exists(DataFolder(CSIDL_LOCAL_APPDATA) + L"\\settings.db"));
        EXPECT_EQ(1, ProductEntries());
    }

    void ExpectRemoved(const std::wstring& folder) {
        EXPECT_FALSE(Exists(folder));
        EXPECT_FALSE(AnyComponentRegistered());
        EXPECT_FALSE(Exists(StartMenuShortcutPath()));
        EXPECT_FALSE(Exists(DesktopShortcutPath()));
        EXPECT_FALSE(Exists(SpecialFolder(CSIDL_COMMON_APPDATA) + L"\\ORBEK"));
        EXPECT_FALSE(Exists(SpecialFolder(CSIDL_LOCAL_APPDATA) + L"\\ORBEK"));
        EXPECT_EQ(0, ProductEntries());
        // The user's settings survive a reinstallation.
        EXPECT_TRUE(InstallMarkSet());
        EXPECT_TRUE(MachineSettingsKeyExists());
    }

    std::wstring defaultFolder_;
    std::wstring otherFolder_;
};

}  // namespace

TEST_F(PreviousInstallationTest, NothingInstalledRemovesNothing) {
    CreateFolderTree(DataFolder(CSIDL_LOCAL_APPDATA));
    WriteTextFile(DataFolder(CSIDL_LOCAL_APPDATA) + L"\\settings.db", "data");
    LogWatch log;
    EXPECT_TRUE(RemovePreviousInstallation());
    EXPECT_EQ(L"", log.Added());
    EXPECT_TRUE(Exists(DataFolder(CSIDL_LOCAL_APPDATA) + L"\\settings.db"));
}

TEST_F(PreviousInstallationTest, ReinstallOverARunningInstallation) {
    MakeInstallation(defaultFolder_);
    WriteUninstallEntry(L"ORBEK_Portvane", UninstallCommand(defaultFolder_));
    LogWatch log;
    ASSERT_TRUE(RemovePreviousInstallation());
    EXPECT_EQ(L"", log.Added());
    ExpectRemoved(defaultFolder_);
    EXPECT_FALSE(Exists(ProgramFilesFolder() + L"\\ORBEK"));

    // The way is clear: the services can be created again.
    for (const wchar_t* file : kProductFiles) {
        CopyStandin(file, defaultFolder_);
    }
    SetInstallFolder(defaultFolder_);
    EXPECT_TRUE(InstallComponents());
}

TEST_F(PreviousInstallationTest, EarlierInstallationInAnotherFolder) {
    MakeInstallation(otherFolder_);
    WriteUninstallEntry(L"ORBEK_Portvane", UninstallCommand(otherFolder_));
    CreateFolderTree(defaultFolder_);
    WriteTextFile(defaultFolder_ + L"\\keep.txt", "default folder");
    ASSERT_TRUE(RemovePreviousInstallation());
    ExpectRemoved(otherFolder_);
    EXPECT_TRUE(Exists(defaultFolder_ + L"\\keep.txt"));
}

TEST_F(PreviousInstallationTest, EntryStoredInLowerCaseIsFoundAndDeleted) {
    MakeInstallation(defaultFolder_);
    WriteUninstallEntry(L"orbek_portvane", UninstallCommand(defaultFolder_));
    ASSERT_TRUE(RemovePreviousInstallation());
    ExpectRemoved(defaultFolder_);
}

// The shortcuts go by the name the entry gives, not by today's product name.
TEST_F(PreviousInstallationTest, ShortcutsNamedByTheEntryAreDeleted) {
    MakeInstallation(otherFolder_);
    const std::wstring productLink = L"\\Portvane.lnk";
    std::vector<std::wstring> oldLinks;
    for (const std::wstring& link : {StartMenuShortcutPath(), DesktopShortcutPath()}) {
        oldLinks.push_back(link.substr(0, link.size() - productLink.size()) +
                           L"\\Portvane Classic.lnk");
        WriteTextFile(oldLinks.back(), "link");
    }
    WriteUninstallEntry(
        L"ORBEK_Portvane",
        L"\"" + otherFolder_ + L"\\Uninst.exe\" \"ORBEK_Portvane\" \"Portvane Classic\"");
    LogWatch log;
    ASSERT_TRUE(RemovePreviousInstallation());
    EXPECT_EQ(L"", log.Added());
    for (const std::wstring& link : oldLinks) {
        EXPECT_FALSE(Exists(link)) << testing::PrintToString(link);
    }
    EXPECT_TRUE(Exists(StartMenuShortcutPath()));
    EXPECT_TRUE(Exists(DesktopShortcutPath()));
    EXPECT_FALSE(Exists(otherFolder_));
    EXPECT_EQ(0, ProductEntries());
}

TEST_F(PreviousInstallationTest, WrongArgumentCountRemovesNothing) {
    MakeInstallation(defaultFolder_);
    const std::wstring uninstaller = L"\"" + defaultFolder_ + L"\\Uninst.exe\"";
    for (const std::wstring& command :
         {uninstaller + L" \"ORBEK_Portvane\"",
          uninstaller + L" \"ORBEK_Portvane\" \"Portvane\" \"extra\""}) {
        WriteUninstallEntry(L"ORBEK_Portvane", command);
        LogWatch log;
        EXPECT_FALSE(RemovePreviousInstallation()) << testing::PrintToString(command);
        EXPECT_EQ(L"", log.Added());
        ExpectUntouched(defaultFolder_);
    }
}

TEST_F(PreviousInstallationTest, SubfolderKeepsTheOldFolderAndTheEntry) {
    MakeInstallation(otherFolder_);
    WriteUninstallEntry(L"ORBEK_Portvane", UninstallCommand(otherFolder_));
    CreateFolderTree(otherFolder_ + L"\\logs");
    WriteTextFile(otherFolder_ + L"\\logs\\today.log", "log");
    LogWatch log;
    EXPECT_FALSE(RemovePreviousInstallation());
    EXPECT_EQ(
        L"インストール先ディレクトリを削除できません。\n" + OsMessageLine(ERROR_DIR_NOT_EMPTY),
        log.Added());
    for (const wchar_t* file : kProductFiles) {
        EXPECT_FALSE(Exists(otherFolder_ + L"\\" + file)) << testing::PrintToString(file);
    }
    EXPECT_TRUE(Exists(otherFolder_ + L"\\logs\\today.log"));
    EXPECT_FALSE(AnyComponentRegistered());
    EXPECT_EQ(1, ProductEntries());
}

TEST_F(PreviousInstallationTest, OldFolderAlreadyGone) {
    MakeInstallation(defaultFolder_);
    WriteUninstallEntry(L"ORBEK_Portvane", UninstallCommand(otherFolder_));
    LogWatch log;
    EXPECT_TRUE(RemovePreviousInstallation());
    EXPECT_EQ(L"", log.Added());
    EXPECT_FALSE(AnyComponentRegistered());
    EXPECT_EQ(0, ProductEntries());
}

TEST_F(PreviousInstallationTest, StoppedServiceStaysAndBlocksTheNextCreate) {
    MakeInstallation(defaultFolder_);
    WriteUninstallEntry(L"ORBEK_Portvane", UninstallCommand(defaultFolder_));
    ASSERT_TRUE(StopProductService(kPService));
    LogWatch log;
    EXPECT_TRUE(RemovePreviousInstallation());
    EXPECT_EQ(L"Portvane_PService を削除できません。\n" + OsMessageLine(ERROR_SERVICE_NOT_ACTIVE),
              log.Added());
    EXPECT_TRUE(QueryConfig(kPService).registered);
    EXPECT_FALSE(QueryConfig(kDService).registered);
    EXPECT_FALSE(Exists(defaultFolder_));
    EXPECT_EQ(0, ProductEntries());

    for (const wchar_t* file : kProductFiles) {
        CopyStandin(file, defaultFolder_);
    }
    SetInstallFolder(defaultFolder_);
    LogWatch install;
    EXPECT_FALSE(InstallComponents());
    EXPECT_EQ(
        L"Portvane_PService をインストールできません。\n" + OsMessageLine(ERROR_SERVICE_EXISTS),
        install.Added());
}

TEST_F(PreviousInstallationTest, UninstallStringFillingTheBufferWithoutTerminatorIsRefused) {
    MakeInstallation(defaultFolder_);
    WriteUninstallEntry(L"ORBEK_Portvane", L"");
    // A valid command padded with blanks to 1,024 characters: cut, it would be obeyed.
    std::wstring command = UninstallCommand(defaultFolder_);
    command.resize(1024, L' ');
    WriteRawUninstallString(L"ORBEK_Portvane",
                            std::vector<wchar_t>(command.begin(), command.end()));
    LogWatch log;
    EXPECT_FALSE(RemovePreviousInstallation());
    EXPECT_EQ(L"", log.Added());
    ExpectUntouched(defaultFolder_);

    // 1,023 characters and the terminator fill the buffer exactly and are read whole.
    command.resize(1023);
    std::vector<wchar_t> terminated(command.begin(), command.end());
    terminated.push_back(L'\0');
    WriteRawUninstallString(L"ORBEK_Portvane", terminated);
    EXPECT_TRUE(RemovePreviousInstallation());
    ExpectRemoved(defaultFolder_);
}

TEST_F(PreviousInstallationTest, EntryWithoutUninstallStringIsRefused) {
    MakeInstallation(defaultFolder_);
    WriteUninstallEntry(L"ORBEK_Portvane", L"");
    ScopedRegistryKey entry;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, (kUninstallRoot + L"\\ORBEK_Portvane").c_str(), 0,
                            KEY_ALL_ACCESS, entry.receive()));
    RegDeleteValueW(entry.get(), L"UninstallString");
    EXPECT_FALSE(RemovePreviousInstallation());
    ExpectUntouched(defaultFolder_);
}

TEST_F(PreviousInstallationTest, NoEntryButDefaultFolderIsRemoved) {
    MakeInstallation(defaultFolder_);
    LogWatch log;
    EXPECT_TRUE(RemovePreviousInstallation());
    EXPECT_EQ(L"", log.Added());
    EXPECT_FALSE(Exists(defaultFolder_));
    EXPECT_FALSE(AnyComponentRegistered());
    EXPECT_FALSE(Exists(StartMenuShortcutPath()));
}

TEST_F(PreviousInstallationTest, NoEntryNoFolderButARegisteredService) {
    CopyStandin(L"Portvane_DService.exe", otherFolder_);
    ASSERT_TRUE(InstallService(kDService, (otherFolder_ + L"\\Portvane_DService.exe").c_str()));
    ASSERT_TRUE(StartProductService(kDService));
    ASSERT_TRUE(WaitForServiceState(kDService, SERVICE_RUNNING, 10000));
    LogWatch log;
    EXPECT_TRUE(RemovePreviousInstallation());
    EXPECT_EQ(
        L"Portvane_PService を削除できません。\n" + OsMessageLine(ERROR_SERVICE_DOES_NOT_EXIST),
        log.Added());
    EXPECT_FALSE(AnyComponentRegistered());
}

// A hostile or damaged entry must never turn the removal on a drive root or on
// whatever the current folder happens to be.
TEST_F(PreviousInstallationTest, UninstallerInADriveRootIsRefusedWithNothingDeleted) {
    MakeInstallation(defaultFolder_);
    const std::wstring scratch = otherFolder_ + L"\\root";
    CreateFolderTree(scratch);
    WriteTextFile(scratch + L"\\Uninst.exe", "uninstaller");
    WriteTextFile(scratch + L"\\boot.ini", "precious");
    ScratchDrive drive(scratch);
    ASSERT_TRUE(drive.mapped());
    ASSERT_TRUE(Exists(drive.root() + L"boot.ini"));
    WriteUninstallEntry(L"ORBEK_Portvane",
                        L"\"" + drive.root() + L"Uninst.exe\" \"ORBEK_Portvane\" \"Portvane\"");

    LogWatch log;
    EXPECT_FALSE(RemovePreviousInstallation());
    EXPECT_EQ(L"", log.Added());
    EXPECT_TRUE(Exists(drive.root() + L"boot.ini"));
    EXPECT_TRUE(Exists(drive.root() + L"Uninst.exe"));
    ExpectUntouched(defaultFolder_);
}

TEST_F(PreviousInstallationTest, UninstallerWithoutFolderIsRefusedWithNothingDeleted) {
    MakeInstallation(defaultFolder_);
    CreateFolderTree(otherFolder_);
    WriteTextFile(otherFolder_ + L"\\work.txt", "the current folder's");
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(otherFolder_.c_str()));
    WriteUninstallEntry(L"ORBEK_Portvane", L"\"Uninst.exe\" \"ORBEK_Portvane\" \"Portvane\"");

    const bool removed = RemovePreviousInstallation();
    SetCurrentDirectoryW(previous);
    EXPECT_FALSE(removed);
    EXPECT_TRUE(Exists(otherFolder_ + L"\\work.txt"));
    ExpectUntouched(defaultFolder_);
}
