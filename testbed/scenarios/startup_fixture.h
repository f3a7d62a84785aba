// Shared set-up of the end-to-end scenarios: a clean product state and the
// .NET Framework registered, as on a machine ready for installation.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include "testbed/driver.h"
#include "testbed/product_state.h"

constexpr DWORD kStartTimeoutMs = 30000;
constexpr wchar_t kCaptionText[] = L"Portvane Ver.1.0.0";
constexpr wchar_t kDotNetFullKey[] = L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full";
constexpr wchar_t kDotNetClientKey[] =
    L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Client";
constexpr wchar_t kDotNetMissing[] =
    L"このアプリケーションを実行するには、.NET Framework 4.0以上をインストールする必要があります。";
constexpr wchar_t kAlreadyRunning[] = L"起動中です。インストールできません。";

inline void SetMachineDword(const wchar_t* keyPath, const wchar_t* name, DWORD value) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    RegCloseKey(key);
}

inline void RemoveDotNet() {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kDotNetFullKey);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kDotNetClientKey);
}

inline void RegisterDotNet48() {
    RemoveDotNet();
    SetMachineDword(kDotNetFullKey, L"Release", 528040);
}

class SetupScenario : public ::testing::Test {
protected:
    void SetUp() override {
        ResetProductState();
        RegisterDotNet48();
        stagingBefore_ = StagingFolders();
    }
    void TearDown() override {
        KillIfRunning(setup_);
        RegisterDotNet48();
    }

    // The wizard appears with the caption text; Cancel ends the program with 0.
    void ExpectWizardThenCancel(const SetupProcess& setup) {
        HWND wizard = WaitForDialog(setup.processId, kCaptionText, kStartTimeoutMs);
        ASSERT_NE(nullptr, wizard) << "the wizard did not open";
        ASSERT_TRUE(Click(wizard, IDCANCEL));
        EXPECT_EQ(0u, WaitForExit(setup, kStartTimeoutMs));
    }

    // Setup shows exactly this refusal box and ends with this code.
    void ExpectRefusal(const wchar_t* text, DWORD exitCode) {
        setup_ = LaunchSetup();
        MessageBoxInfo box = WaitForMessageBox(setup_.processId, kStartTimeoutMs);
        ASSERT_NE(nullptr, box.window) << "no message box";
        EXPECT_EQ(text, box.text);
        EXPECT_EQ(L"Portvane", box.caption);
        EXPECT_EQ(nullptr, box.owner);
        EXPECT_TRUE(box.hasIcon);
        SaveScreenshot(box.window, exitCode == 1 && wcscmp(text, kDotNetMissing) == 0
                                       ? L"message-129-dotnet"
                                       : L"message-119-running");
        DismissMessageBox(box);
        EXPECT_EQ(exitCode, WaitForExit(setup_, kStartTimeoutMs));
        EXPECT_EQ(stagingBefore_, StagingFolders()) << "a refusal must leave nothing on disk";
    }

    SetupProcess setup_;
    std::vector<std::wstring> stagingBefore_;
};
