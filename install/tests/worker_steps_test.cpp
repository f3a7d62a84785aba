// Single steps of the install worker over an earlier installation's leftovers.
#include <windows.h>

#include <gtest/gtest.h>

#include "install/tests/installed_state.h"
#include "install/tests/worker_fixture.h"
#include "install/worker.h"
#include "payload/module_table.h"
#include "platform/scoped_handle.h"
#include "setup/process_state.h"
#include "testbed/product_state.h"

namespace {

void WriteReadOnlyFile(const std::wstring& path, const char* text) {
    ScopedFileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    WriteFile(file.get(), text, static_cast<DWORD>(strlen(text)), &written, nullptr);
    file.reset();
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
}

}  // namespace

TEST_F(WorkerTest, ExistingFoldersAreUsedAndReadOnlyFilesOverwritten) {
    const std::wstring makerFolder = ProgramFilesFolder() + L"\\ORBEK";
    ASSERT_TRUE(CreateDirectoryW(makerFolder.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(DefaultInstallFolder().c_str(), nullptr));
    WriteReadOnlyFile(InstalledPath(L"Portvane.exe"), "earlier application");
    WriteReadOnlyFile(InstalledPath(L"Uninst.exe"), "earlier uninstaller");
    WriteReadOnlyFile(makerFolder + L"\\Other.txt", "another product of the maker");

    ASSERT_TRUE(CreateInstallFolders());
    EXPECT_EQ(DefaultInstallFolder(), g_installFolderPath);
    InstallRun run = {};
    ASSERT_TRUE(CopyPayloadModules(run));

    long long copiedBytes = 0;
    for (const PayloadModule* module = kModuleTable; module->fileName != nullptr; ++module) {
        const std::wstring installed = InstalledPath(module->fileName);
        EXPECT_EQ(FileSizeOf(StagedPath(module->fileName)), FileSizeOf(installed));
        EXPECT_FALSE(GetFileAttributesW(installed.c_str()) & FILE_ATTRIBUTE_READONLY);
        copiedBytes += FileSizeOf(StagedPath(module->fileName));
    }
    EXPECT_EQ(static_cast<unsigned>(copiedBytes), run.copiedBytes);
    EXPECT_EQ(InstalledPath(L"Uninst.exe"), run.uninstallerPath);
    EXPECT_TRUE(PathIsFile(makerFolder + L"\\Other.txt"));
    EXPECT_EQ(L"", AddedLog());
    SetFileAttributesW((makerFolder + L"\\Other.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(WorkerTest, ShortcutsPointAtTheApplicationInTheInstallFolder) {
    ASSERT_TRUE(CreateInstallFolders());
    InstallRun run = {};
    ASSERT_TRUE(CreateProductShortcuts(run));
    EXPECT_EQ(InstalledPath(L"Portvane.exe"), run.applicationPath);
    EXPECT_EQ(0, _wcsicmp(run.applicationPath, ReadShortcut(DesktopShortcutPath()).path.c_str()));
    EXPECT_EQ(0, _wcsicmp(run.applicationPath, ReadShortcut(StartMenuShortcutPath()).path.c_str()));
}
