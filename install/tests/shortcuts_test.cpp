#include "install/shortcuts.h"

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "install/tests/installed_state.h"
#include "setup/product_paths.h"
#include "testbed/product_state.h"

namespace {

// A fresh folder under the temporary folder, removed again after each case.
class ShortcutTest : public ::testing::Test {
  protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        folder_ = std::wstring(temp) + L"pv_shortcuts_" + std::to_wstring(GetCurrentProcessId());
        DeleteTree(folder_);
        ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
        target_ = folder_ + L"\\Program Files\\Portvane.exe";
        link_ = folder_ + L"\\Portvane.lnk";
    }
    void TearDown() override { DeleteTree(folder_); }

    std::wstring folder_;
    std::wstring target_;
    std::wstring link_;
};

}  // namespace

TEST_F(ShortcutTest, LinkCarriesItsTargetAndNothingElse) {
    ASSERT_TRUE(CreateShortcut(link_.c_str(), target_.c_str()));
    ASSERT_TRUE(PathIsFile(link_));
    const ShortcutTarget read = ReadShortcut(link_);
    ASSERT_TRUE(read.loaded);
    EXPECT_EQ(0, _wcsicmp(target_.c_str(), read.path.c_str())) << read.path;
    EXPECT_EQ(L"", read.arguments);
    EXPECT_EQ(L"", read.workingFolder);
}

TEST_F(ShortcutTest, SecondSaveOverwritesTheLinkInPlace) {
    const std::wstring other = folder_ + L"\\Other\\Tray.exe";
    ASSERT_TRUE(CreateShortcut(link_.c_str(), other.c_str()));
    ASSERT_TRUE(CreateShortcut(link_.c_str(), target_.c_str()));
    EXPECT_EQ(0, _wcsicmp(target_.c_str(), ReadShortcut(link_).path.c_str()));
}

TEST_F(ShortcutTest, MissingFolderIsNotCreatedAndTheSaveFails) {
    const std::wstring inMissing = folder_ + L"\\missing\\Portvane.lnk";
    EXPECT_FALSE(CreateShortcut(inMissing.c_str(), target_.c_str()));
    EXPECT_FALSE(PathIsFolder(folder_ + L"\\missing"));
}

TEST(ShortcutResult, OnlySOkCountsAsSaved) {
    EXPECT_EQ(1, ShortcutResultOf(S_OK));
    EXPECT_EQ(0, ShortcutResultOf(S_FALSE));
    EXPECT_EQ(0, ShortcutResultOf(E_FAIL));
    EXPECT_EQ(0, ShortcutResultOf(STG_E_ACCESSDENIED));
}

// The apartment is the shortcut's own: a thread without COM is left without
// it, and one already in the multithreaded apartment keeps it.
TEST_F(ShortcutTest, ComIsLeftAsTheThreadHadIt) {
    HRESULT afterwards = E_FAIL;
    std::thread plain([&] {
        CreateShortcut(link_.c_str(), target_.c_str());
        afterwards = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (SUCCEEDED(afterwards)) {
            CoUninitialize();
        }
    });
    plain.join();
    EXPECT_EQ(S_OK, afterwards);

    bool saved = false;
    HRESULT stillInside = E_FAIL;
    std::thread multithreaded([&] {
        if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
            return;
        }
        saved = CreateShortcut(link_.c_str(), target_.c_str());
        stillInside = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (SUCCEEDED(stillInside)) {
            CoUninitialize();
        }
        CoUninitialize();
    });
    multithreaded.join();
    EXPECT_TRUE(saved);
    EXPECT_EQ(S_FALSE, stillInside);
}

TEST(ProductPaths, FoldersLieUnderThe32BitProgramFiles) {
    wchar_t path[kPathChars];
    ASSERT_TRUE(GetMakerFolderPath(path));
    EXPECT_STREQ(L"C:\\Program Files (x86)\\ORBEK", path);
    ASSERT_TRUE(GetProductFolderPath(path));
    EXPECT_STREQ(L"C:\\Program Files (x86)\\ORBEK\\Portvane", path);
    EXPECT_EQ(DefaultInstallFolder(), path);
}

TEST(ProductPaths, ShortcutsAreNamedAfterTheProductInTheUsersFolders) {
    wchar_t path[kPathChars];
    ASSERT_TRUE(GetStartMenuShortcutPath(path));
    EXPECT_EQ(StartMenuShortcutPath(), path);
    ASSERT_TRUE(GetDesktopShortcutPath(path));
    EXPECT_EQ(DesktopShortcutPath(), path);
    EXPECT_EQ(L"\\Portvane.lnk", std::wstring(path).substr(wcslen(path) - 13));
}

TEST(ProductPaths, ShortcutsOfAnotherNameLieInTheSameFolders) {
    const std::wstring productLink = L"\\Portvane.lnk";
    const std::wstring startMenu = StartMenuShortcutPath();
    const std::wstring desktop = DesktopShortcutPath();
    wchar_t path[kPathChars];
    ASSERT_TRUE(GetStartMenuShortcutPath(L"Portvane Old", path));
    EXPECT_EQ(startMenu.substr(0, startMenu.size() - productLink.size()) + L"\\Portvane Old.lnk",
              path);
    ASSERT_TRUE(GetDesktopShortcutPath(L"Portvane Old", path));
    EXPECT_EQ(desktop.substr(0, desktop.size() - productLink.size()) + L"\\Portvane Old.lnk", path);

    // A name as long as a shortcut name may be (255) cannot fit beside any folder.
    wmemset(path, L'#', kPathChars);
    EXPECT_FALSE(GetDesktopShortcutPath(std::wstring(255, L'n').c_str(), path));
    EXPECT_STREQ(L"", path);
}

TEST(ProductPaths, ShortcutPathThatWouldNotFitIsRefusedNotCut) {
    // 250 characters of folder leave no room for "\Portvane.lnk" in 259.
    const DesktopFolderOverride desktop(L"C:\\" + std::wstring(247, L'd'));
    wchar_t path[kPathChars];
    wmemset(path, L'#', kPathChars);
    EXPECT_FALSE(GetDesktopShortcutPath(path));
    EXPECT_STREQ(L"", path);
    EXPECT_TRUE(GetStartMenuShortcutPath(path));
}
