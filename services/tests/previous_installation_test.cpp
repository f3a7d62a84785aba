// Removing an earlier installation, against Wine's real registry, service
// manager and files. The earlier installation is laid out as the installer
// leaves it: files, running services, shortcuts, data folders, settings keys and
// the uninstall entry.
#include "services/previous_installation.h"

#include <windows.h>
#include <gtest/gtest.h>
// These need windows.h first.
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/scoped_handle.h"
#include "services/components.h"
#include "services/earlier_executables.h"
#include "services/service_control.h"
#include "services/service_registration.h"
#include "services/tests/scratch_drive.h"
#include "services/tests/service_test_support.h"
#include "testbed/driver.h"
#include "testbed/product_state.h"
#include "testbed/test_helpers.h"

namespace {

const std::wstring kUninstallRoot = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const wchar_t* const kProductFiles[] = {L"Portvane.exe", L"Portvane_PService.exe",
                                        L"Portvane_DService.exe", L"Uninst.exe"};

// The product's shortcut paths under another shortcut name.
std::wstring ShortcutNamed(const std::wstring& productLink, const std::wstring& name) {
    return productLink.substr(0, productLink.rfind(L'\\') + 1) + name + L".lnk";
}

std::wstring UninstallCommand(const std::wstring& folder, const wchar_t* name = L"Portvane") {
    return L"\"" + folder + L"\\Uninst.exe\" \"ORBEK_Portvane\" \"" + name + L"\"";
}

// A text with its terminator, as the installer stores it.
std::vector<wchar_t> Terminated(const std::wstring& text) {
    return std::vector<wchar_t>(text.c_str(), text.c_str() + text.size() + 1);
}

// The entry as the removal reads it: its "UninstallString" exactly as given.
void WriteUninstallString(const std::wstring& keyName, const std::vector<wchar_t>& data) {
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, (kUninstallRoot + keyName).c_str(),
                                             L"UninstallString", REG_SZ, data.data(),
                                             static_cast<DWORD>(data.size() * sizeof(wchar_t))));
}

void WriteUninstallEntry(const std::wstring& keyName, const std::wstring& command) {
    WriteUninstallString(keyName, Terminated(command));
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
        ProductStateTest::TearDown();
    }

    // Files, running services, shortcuts of that name, data folders and settings
    // keys; the uninstall entry is left to each test.
    void MakeInstallation(const std::wstring& folder, const wchar_t* shortcutName = L"Portvane") {
        for (const wchar_t* file : kProductFiles) {
            CopyStandin(file, folder);
        }
        WriteTextFile(folder + L"\\Readme.rtf", "{\\rtf1 readme}");
        SetFileAttributesW((folder + L"\\Readme.rtf").c_str(), FILE_ATTRIBUTE_READONLY);
        SetInstallFolder(folder);
        ASSERT_TRUE(InstallComponents());
        // As the worker starts a removal: no install folder made yet.
        SetInstallFolder(L"");
        ASSERT_TRUE(WaitForServiceState(kDService, SERVICE_RUNNING));
        WriteTextFile(ShortcutNamed(StartMenuShortcutPath(), shortcutName), "link");
        WriteTextFile(ShortcutNamed(DesktopShortcutPath(), shortcutName), "link");
        for (int csidl : {CSIDL_COMMON_APPDATA, CSIDL_LOCAL_APPDATA}) {
            CreateFolderTree(DataFolder(csidl));
            WriteTextFile(DataFolder(csidl) + L"\\settings.db", "data");
            SetFileAttributesW((DataFolder(csidl) + L"\\settings.db").c_str(),
                               FILE_ATTRIBUTE_READONLY);
        }
        const DWORD one = 1;
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(root, kSettingsKey, L"Install", REG_DWORD,
                                                     &one, sizeof(one)));
        }
    }

    // Nothing of the installation in folder was touched.
    void ExpectUntouched(const std::wstring& folder) {
        for (const wchar_t* file : kProductFiles) {
            EXPECT_TRUE(PathExists(folder + L"\\" + file)) << file;
        }
        EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), QueryService(kPService).currentState);
        EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), QueryService(kDService).currentState);
        EXPECT_TRUE(PathExists(StartMenuShortcutPath()));
        EXPECT_TRUE(PathExists(DesktopShortcutPath()));
        EXPECT_TRUE(PathExists(DataFolder(CSIDL_LOCAL_APPDATA) + L"\\settings.db"));
        EXPECT_EQ(1, ProductUninstallEntries());
    }

    // The folder the installation reuses is emptied and kept with its maker
    // folder; the services stay registered, stopped, for it to configure.
    void ExpectRemoved(const std::wstring& folder, const wchar_t* shortcutName = L"Portvane") {
        const bool reused = folder == defaultFolder_;
        EXPECT_EQ(reused, PathExists(folder));
        if (reused) {
            EXPECT_TRUE(ListFiles(folder).empty());
        }
        // The earlier service executables wait aside, where the journal
        // lists them, until the run ends.
        const std::wstring aside =
            ReadValue(HKEY_LOCAL_MACHINE, kSettingsKey, L"SetupAsideFolder").text;
        if (!aside.empty()) {
            std::vector<std::wstring> kept = ListFiles(aside);
            std::sort(kept.begin(), kept.end());
            EXPECT_EQ(
                (std::vector<std::wstring>{L"Portvane_DService.exe", L"Portvane_PService.exe"}),
                kept);
        }
        DiscardEarlierExecutables();
        EXPECT_FALSE(!aside.empty() && PathExists(aside)) << "left aside";
        for (const wchar_t* service : {kPService, kDService}) {
            EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), QueryService(service).currentState);
        }
        EXPECT_FALSE(PathExists(ShortcutNamed(StartMenuShortcutPath(), shortcutName)));
        EXPECT_FALSE(PathExists(ShortcutNamed(DesktopShortcutPath(), shortcutName)));
        EXPECT_FALSE(PathExists(SpecialFolder(CSIDL_COMMON_APPDATA) + L"\\ORBEK"));
        EXPECT_FALSE(PathExists(SpecialFolder(CSIDL_LOCAL_APPDATA) + L"\\ORBEK"));
        EXPECT_EQ(0, ProductUninstallEntries());
        // The user's settings survive a reinstallation.
        EXPECT_EQ(1u, ReadValue(HKEY_CURRENT_USER, kSettingsKey, L"Install").number);
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kSettingsKey));
    }

    std::wstring defaultFolder_;
    std::wstring otherFolder_;
};

}  // namespace

// The entry is found whatever the case of its name and deleted as stored (in
// another folder, where only the entry leads, also written with forward
// slashes); the folder it names may already be gone. A service process that
// outlives its "stopped" report is waited for before its files are deleted.
TEST_F(PreviousInstallationTest, ReinstallOverARunningInstallation) {
    struct Case {
        const wchar_t* keyName;
        std::wstring installed;
        std::wstring named;
        bool slashes;
        bool lingering;
        bool commandWritten = true;  // false: a setup ended while it wrote the entry
    };
    for (const Case& entry :
         {Case{L"ORBEK_Portvane", defaultFolder_, defaultFolder_, false, true},
          Case{L"orbek_portvane", otherFolder_, otherFolder_, true, false},
          Case{L"orbek_portvane", defaultFolder_, defaultFolder_, false, false, false},
          Case{L"ORBEK_Portvane", defaultFolder_, otherFolder_, false, false}}) {
        SCOPED_TRACE(entry.keyName + (L" " + entry.named));
        DeleteTree(ProgramFilesFolder() + L"\\ORBEK");
        MakeInstallation(entry.installed);
        if (entry.lingering) {
            ASSERT_NO_FATAL_FAILURE(RestartLingering(kPService));
        }
        std::wstring command = UninstallCommand(entry.named);
        if (entry.slashes) {
            std::replace(command.begin(), command.end(), L'\\', L'/');
        }
        WriteUninstallEntry(entry.keyName, command);
        if (!entry.commandWritten) {
            RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kUninstallEntryKey, L"UninstallString");
        }
        LogWatch log;
        ASSERT_TRUE(RemovePreviousInstallation());
        EXPECT_EQ(L"", log.Added());
        ExpectRemoved(entry.named);
        EXPECT_EQ(entry.installed != entry.named || entry.named == defaultFolder_,
                  PathExists(ProgramFilesFolder() + L"\\ORBEK"));
    }
    // The way is clear: the services can be configured and started again.
    SetInstallFolder(defaultFolder_);
    EXPECT_TRUE(InstallComponents());
}

// The old folder and shortcut names come from the entry, not from today's product.
TEST_F(PreviousInstallationTest, EarlierInstallationInAnotherFolderUnderAnotherName) {
    MakeInstallation(otherFolder_, L"Portvane Classic");
    WriteUninstallEntry(L"ORBEK_Portvane", UninstallCommand(otherFolder_, L"Portvane Classic"));
    CreateFolderTree(defaultFolder_);
    WriteTextFile(defaultFolder_ + L"\\keep.txt", "default folder");
    WriteTextFile(StartMenuShortcutPath(), "link");
    WriteTextFile(DesktopShortcutPath(), "link");
    // A command prompt stands in the old folder: emptied, the folder is left
    // to the next restart rather than failing the upgrade.
    wchar_t previous[MAX_PATH];
    ASSERT_NE(0u, GetCurrentDirectoryW(MAX_PATH, previous));
    ASSERT_TRUE(SetCurrentDirectoryW(otherFolder_.c_str()));
    LogWatch log;
    const bool removed = RemovePreviousInstallation();
    SetCurrentDirectoryW(previous);
    ASSERT_TRUE(removed);
    EXPECT_EQ(
        L"インストール先ディレクトリを削除できません。\n" + OsMessageLine(ERROR_SHARING_VIOLATION),
        log.Added());
    const wchar_t sessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    wchar_t pending[4096] = {};
    DWORD pendingBytes = sizeof(pending) - sizeof(wchar_t);
    ASSERT_EQ(ERROR_SUCCESS,
              RegGetValueW(HKEY_LOCAL_MACHINE, sessionManager, L"PendingFileRenameOperations",
                           RRF_RT_REG_MULTI_SZ, nullptr, pending, &pendingBytes));
    EXPECT_EQ(L"\\??\\" + otherFolder_, pending);
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, sessionManager, L"PendingFileRenameOperations");
    EXPECT_TRUE(RemoveDirectoryW(otherFolder_.c_str()));
    ExpectRemoved(otherFolder_, L"Portvane Classic");
    EXPECT_TRUE(PathExists(defaultFolder_ + L"\\keep.txt"));
    EXPECT_TRUE(PathExists(StartMenuShortcutPath()));
    EXPECT_TRUE(PathExists(DesktopShortcutPath()));
}

// An entry that cannot be read whole and safely removes nothing: it must never
// turn the removal on a drive root or on whatever the current folder is. Only
// the longest command that still fits its buffer whole is obeyed.
TEST_F(PreviousInstallationTest, EntryIsObeyedOnlyWhenReadWholeAndSafe) {
    MakeInstallation(defaultFolder_);
    const std::wstring scratch = otherFolder_ + L"\\root";
    CreateFolderTree(scratch);
    WriteTextFile(scratch + L"\\Uninst.exe", "uninstaller");
    WriteTextFile(scratch + L"\\boot.ini", "precious");
    ScratchDrive drive(scratch);
    ASSERT_TRUE(drive.mapped());
    ASSERT_TRUE(PathExists(drive.root() + L"boot.ini"));
    WriteTextFile(otherFolder_ + L"\\work.txt", "the current folder's");
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(otherFolder_.c_str()));

    const std::wstring uninstaller = L"\"" + defaultFolder_ + L"\\Uninst.exe\"";
    // A valid command padded with blanks to 1,024 characters: cut, it would be obeyed.
    std::wstring padded = UninstallCommand(defaultFolder_);
    padded.resize(1024, L' ');
    const std::vector<wchar_t> refused[] = {
        {padded.begin(), padded.end()},
        Terminated(uninstaller + L" \"ORBEK_Portvane\""),
        Terminated(uninstaller + L" \"ORBEK_Portvane\" \"Portvane\" \"extra\""),
        Terminated(L"\"" + drive.root() + L"Uninst.exe\" \"ORBEK_Portvane\" \"Portvane\""),
        Terminated(L"\"Uninst.exe\" \"ORBEK_Portvane\" \"Portvane\"")};
    for (const std::vector<wchar_t>& entry : refused) {
        SCOPED_TRACE(std::wstring(entry.begin(), entry.end()));
        WriteUninstallString(L"ORBEK_Portvane", entry);
        LogWatch log;
        EXPECT_FALSE(RemovePreviousInstallation());
        EXPECT_EQ(L"", log.Added());
        ExpectUntouched(defaultFolder_);
    }
    SetCurrentDirectoryW(previous);
    EXPECT_TRUE(PathExists(drive.root() + L"boot.ini"));
    EXPECT_TRUE(PathExists(drive.root() + L"Uninst.exe"));
    EXPECT_TRUE(PathExists(otherFolder_ + L"\\work.txt"));

    // 1,023 characters and the terminator fill the buffer exactly and are read whole.
    padded.resize(1023);
    WriteUninstallEntry(L"ORBEK_Portvane", padded);
    EXPECT_TRUE(RemovePreviousInstallation());
    ExpectRemoved(defaultFolder_);
}

// A standard user may put a data folder, or its maker folder, back as a link
// after a removal, or plant one inside: the next removal goes on, and deletes
// nothing through a link.
TEST_F(PreviousInstallationTest, LinksInTheDataFoldersAreNotFollowed) {
    const std::wstring elsewhere = otherFolder_ + L"\\elsewhere";
    const std::wstring victim = elsewhere + L"\\Portvane\\victim.txt";
    const std::pair<std::wstring, std::wstring> links[] = {
        {SpecialFolder(CSIDL_COMMON_APPDATA) + L"\\ORBEK", elsewhere},
        {SpecialFolder(CSIDL_LOCAL_APPDATA) + L"\\ORBEK", elsewhere},
        {DataFolder(CSIDL_COMMON_APPDATA), elsewhere + L"\\Portvane"},
        {DataFolder(CSIDL_COMMON_APPDATA) + L"\\victim.txt", victim}};
    for (const auto& [link, target] : links) {
        SCOPED_TRACE(link);
        MakeInstallation(defaultFolder_);
        WriteUninstallEntry(L"ORBEK_Portvane", UninstallCommand(defaultFolder_));
        CreateFolderTree(elsewhere + L"\\Portvane");
        WriteTextFile(victim, "not the product's");
        DeleteTree(link);
        ASSERT_TRUE(RunUnix("ln", "-s", target, link));
        EXPECT_TRUE(RemovePreviousInstallation());
        EXPECT_TRUE(PathExists(victim));
        RunUnix("rm", "-f", link);
    }
}

// What would keep the old folder is found before the first service stops and
// named: nothing is touched, and the product goes on protecting.
TEST_F(PreviousInstallationTest, SubfolderOrHeldFileStopsTheRemovalBeforeAnythingIsTouched) {
    for (const bool subfolder : {true, false}) {
        MakeInstallation(otherFolder_);
        WriteUninstallEntry(L"ORBEK_Portvane", UninstallCommand(otherFolder_));
        if (subfolder) {
            CreateFolderTree(otherFolder_ + L"\\logs");
        }
        // Or a program holds an installed file with read sharing only.
        ScopedFileHandle held(subfolder ? INVALID_HANDLE_VALUE
                                        : CreateFileW((otherFolder_ + L"\\Readme.rtf").c_str(),
                                                      GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                      OPEN_EXISTING, 0, nullptr));
        LogWatch log;
        EXPECT_FALSE(RemovePreviousInstallation());
        EXPECT_EQ(otherFolder_ + (subfolder ? L"\\logs" : L"\\Readme.rtf") +
                      L" を削除できません。\nインストール先ディレクトリを削除できません。\n" +
                      OsMessageLine(subfolder ? ERROR_DIR_NOT_EMPTY : ERROR_SHARING_VIOLATION),
                  log.Added());
        ExpectUntouched(otherFolder_);
        EXPECT_TRUE(PathExists(DataFolder(CSIDL_COMMON_APPDATA) + L"\\settings.db"));
        held.reset();
        ResetProductState();
        DeleteTree(otherFolder_);
    }
}

// Stopped by an administrator, or also disabled: stopped like a running service,
// and the next installation starts them automatically again.
TEST_F(PreviousInstallationTest, StoppedAndDisabledServicesAreRemovedLikeRunningOnes) {
    MakeInstallation(defaultFolder_);
    WriteUninstallEntry(L"ORBEK_Portvane", UninstallCommand(defaultFolder_));
    ASSERT_TRUE(StopProductService(kPService));
    ScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ASSERT_TRUE(ChangeServiceConfigW(
        ScopedServiceHandle(OpenServiceW(manager.get(), kDService, SERVICE_CHANGE_CONFIG)).get(),
        SERVICE_NO_CHANGE, SERVICE_DISABLED, SERVICE_NO_CHANGE, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr));
    ASSERT_TRUE(StopProductService(kDService));
    LogWatch log;
    EXPECT_TRUE(RemovePreviousInstallation());
    EXPECT_EQ(L"", log.Added());
    ExpectRemoved(defaultFolder_);

    for (const wchar_t* file : kProductFiles) {
        CopyStandin(file, defaultFolder_);
    }
    SetInstallFolder(defaultFolder_);
    EXPECT_TRUE(InstallComponents());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), QueryService(kDService).startType);
}

// Without an entry, the default folder or a registered service still betrays an
// earlier installation; with neither, nothing is touched.
TEST_F(PreviousInstallationTest, WithoutAnEntryTheDefaultFolderOrAServiceIsRemoved) {
    CreateFolderTree(DataFolder(CSIDL_LOCAL_APPDATA));
    WriteTextFile(DataFolder(CSIDL_LOCAL_APPDATA) + L"\\settings.db", "data");
    LogWatch nothing;
    EXPECT_TRUE(RemovePreviousInstallation());
    EXPECT_EQ(L"", nothing.Added());
    EXPECT_TRUE(PathExists(DataFolder(CSIDL_LOCAL_APPDATA) + L"\\settings.db"));

    CopyStandin(L"Portvane_DService.exe", otherFolder_);
    ASSERT_TRUE(InstallService(kDService, (otherFolder_ + L"\\Portvane_DService.exe").c_str()));
    ASSERT_TRUE(StartProductService(kDService));
    ASSERT_TRUE(WaitForServiceState(kDService, SERVICE_RUNNING));
    LogWatch service;
    EXPECT_TRUE(RemovePreviousInstallation());
    EXPECT_EQ(L"", service.Added());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), QueryService(kDService).currentState);

    MakeInstallation(defaultFolder_);
    LogWatch folder;
    EXPECT_TRUE(RemovePreviousInstallation());
    EXPECT_EQ(L"", folder.Added());
    ExpectRemoved(defaultFolder_);
}
