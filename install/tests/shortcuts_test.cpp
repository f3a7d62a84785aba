// Create shortcut beyond what a whole installation shows, and the product's
// shortcut paths where they would not fit.
#include "install/shortcuts.h"

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "install/tests/shell_state.h"
#include "setup/product_paths.h"
#include "testbed/driver.h"
#include "testbed/product_state.h"

namespace {

// A fresh folder under the temporary folder, removed again after each case.
class ShortcutTest : public testing::Test {
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

TEST_F(ShortcutTest, ExistingLinkIsOverwrittenAndAMissingFolderFails) {
    ASSERT_TRUE(CreateShortcut(link_.c_str(), (folder_ + L"\\Other\\Tray.exe").c_str()));
    ASSERT_TRUE(CreateShortcut(link_.c_str(), target_.c_str()));
    EXPECT_EQ(0, _wcsicmp(target_.c_str(), ReadShortcut(link_).path.c_str()));

    EXPECT_FALSE(CreateShortcut((folder_ + L"\\missing\\Portvane.lnk").c_str(), target_.c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
    EXPECT_FALSE(PathExists(folder_ + L"\\missing"));
}

// The apartment is the shortcut's own: a thread without COM is left without
// it, and one already in the multithreaded apartment keeps it.
TEST_F(ShortcutTest, ComIsLeftAsTheThreadHadIt) {
    HRESULT afterwards = E_FAIL;
    std::thread([&] {
        CreateShortcut(link_.c_str(), target_.c_str());
        afterwards = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (SUCCEEDED(afterwards)) {
            CoUninitialize();
        }
    }).join();
    EXPECT_EQ(S_OK, afterwards);

    bool saved = false;
    HRESULT stillInside = E_FAIL;
    std::thread([&] {
        if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
            return;
        }
        saved = CreateShortcut(link_.c_str(), target_.c_str());
        stillInside = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (SUCCEEDED(stillInside)) {
            CoUninitialize();
        }
        CoUninitialize();
    }).join();
    EXPECT_TRUE(saved);
    EXPECT_EQ(S_FALSE, stillInside);
}

// S_FALSE is a success code, yet no proof that the file was written.
TEST(ShortcutResult, OnlySOkCountsAsSaved) {
    EXPECT_EQ(1, ShortcutResultOf(S_OK));
    EXPECT_EQ(0, ShortcutResultOf(S_FALSE));
    EXPECT_EQ(0, ShortcutResultOf(STG_E_ACCESSDENIED));
}

TEST(ProductPaths, ShortcutPathThatWouldNotFitIsRefusedNotCut) {
    wchar_t path[kPathChars];
    // A name as long as a shortcut name may be (255) cannot fit beside any folder.
    wmemset(path, L'#', kPathChars);
    EXPECT_FALSE(GetStartMenuShortcutPath(std::wstring(255, L'n').c_str(), path));
    EXPECT_STREQ(L"", path);

    // 250 characters of folder leave no room for "\Portvane.lnk" in 259.
    const DesktopFolderOverride desktop(L"C:\\" + std::wstring(247, L'd'));
    wmemset(path, L'#', kPathChars);
    EXPECT_FALSE(GetDesktopShortcutPath(path));
    EXPECT_STREQ(L"", path);
    wmemset(path, L'#', kPathChars);
    EXPECT_FALSE(GetDesktopShortcutPath(L"Portvane Old", path));
    EXPECT_STREQ(L"", path);
    ASSERT_TRUE(GetStartMenuShortcutPath(path));
    EXPECT_EQ(StartMenuShortcutPath(), path);
}
