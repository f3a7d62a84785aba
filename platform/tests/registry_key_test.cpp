// The product key wrapper against Wine's registry: every way out closes the key,
// a failed create holds none, and the install mark lands where it is read.
#include "platform/registry_key.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace {

const wchar_t kProductKey[] = L"Software\\orbek\\Portvane";
const wchar_t kVolatileRoot[] = L"Software\\PortvaneVolatileRoot";

// Wine counts no handles (GetProcessHandleCount gives 0), so a key handle is
// seen to be closed when the registry refuses it.
bool IsClosed(HKEY key) {
    return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr, nullptr, nullptr) == ERROR_INVALID_HANDLE;
}

// Each case starts and ends with no product key under either root or view (the
// test prefix is the test bed's own).
class RegistryKeyTest : public ::testing::Test {
  protected:
    void SetUp() override { RemoveKeys(); }
    void TearDown() override { RemoveKeys(); }

    static void RemoveKeys() {
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\orbek");
        RegDeleteKeyW(HKEY_CURRENT_USER, kVolatileRoot);
        for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
            HKEY software = nullptr;
            RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_ALL_ACCESS | view, &software);
            RegDeleteTreeW(software, L"orbek");
            RegCloseKey(software);
        }
    }
};

}  // namespace

TEST_F(RegistryKeyTest, EveryWayOutClosesTheHeldKeyAndAFailedCreateHoldsNone) {
    HKEY held = nullptr;
    {
        RegistryKey key;
        ASSERT_TRUE(key.CreateUserProductKey());
        held = key.Key();
        ASSERT_FALSE(IsClosed(held));
    }
    EXPECT_TRUE(IsClosed(held)) << "destruction";

    RegistryKey key;
    EXPECT_TRUE(key.Close()) << "Close with no key succeeds";
    ASSERT_TRUE(key.CreateUserProductKey());
    held = key.Key();
    ASSERT_TRUE(key.CreateProductKey(HKEY_LOCAL_MACHINE));
    // Two open handles never share a value: getting the same one back means the
    // first was closed before the second create.
    EXPECT_TRUE(key.Key() == held || IsClosed(held)) << "a second create";
    held = key.Key();
    key.Initialise();
    EXPECT_TRUE(IsClosed(held)) << "Initialise";
    ASSERT_TRUE(key.CreateUserProductKey());
    held = key.Key();
    key.Release();
    EXPECT_TRUE(IsClosed(held)) << "Release";
    ASSERT_TRUE(key.CreateUserProductKey());
    held = key.Key();
    EXPECT_TRUE(key.Close());
    EXPECT_TRUE(IsClosed(held)) << "Close";

    // A non-volatile key cannot be created below a volatile one; the user key
    // held before must not take the install mark instead.
    HKEY volatileRoot = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_CURRENT_USER, kVolatileRoot, 0, nullptr, REG_OPTION_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &volatileRoot, nullptr));
    ASSERT_TRUE(key.CreateUserProductKey());
    EXPECT_FALSE(key.CreateProductKey(volatileRoot));
    EXPECT_FALSE(key.IsOpen());
    EXPECT_FALSE(key.SetInstallMark());
    RegCloseKey(volatileRoot);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegGetValueW(HKEY_CURRENT_USER, kProductKey, L"Install",
                                                 RRF_RT_ANY, nullptr, nullptr, nullptr));
}

TEST_F(RegistryKeyTest, InstallMarkReplacesAnyEarlierValueAndMachineKeyIsIn32BitView) {
    const wchar_t earlier[] = L"yes, a text";
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, kProductKey, L"Install", REG_SZ,
                                             earlier, sizeof(earlier)));
    RegistryKey key;
    ASSERT_TRUE(key.CreateUserProductKey());
    ASSERT_TRUE(key.SetInstallMark());
    DWORD type = 0;
    DWORD value[4] = {};
    DWORD size = sizeof(value);
    ASSERT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_CURRENT_USER, kProductKey, L"Install", RRF_RT_ANY,
                                          &type, value, &size));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    EXPECT_EQ(4u, size);
    EXPECT_EQ(1u, value[0]);

    ASSERT_TRUE(key.CreateProductKey(HKEY_LOCAL_MACHINE));
    key.Close();
    for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        HKEY opened = nullptr;
        const LONG status =
            RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_READ | view, &opened);
        RegCloseKey(opened);
        EXPECT_EQ(view == KEY_WOW64_32KEY, status == ERROR_SUCCESS) << "view " << view;
    }
}
