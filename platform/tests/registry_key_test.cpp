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

bool KeyExists(HKEY root, REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, kProductKey, 0, KEY_READ | view, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

// Each case starts and ends with no product key under either root (the
// test prefix is the test bed's own).
class RegistryKeyTest : public ::testing::Test {
  protected:
    void SetUp() override { RemoveKeys(); }
    void TearDown() override { RemoveKeys(); }

    static void RemoveKeys() {
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\orbek");
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\orbek");
        RegDeleteKeyW(HKEY_CURRENT_USER, kVolatileRoot);
    }
};

}  // namespace

TEST_F(RegistryKeyTest, CreateTwiceClosesTheFirstKey) {
    RegistryKey key;
    ASSERT_TRUE(key.CreateUserProductKey());
    const HKEY first = key.Key();
    ASSERT_FALSE(IsClosed(first));

    ASSERT_TRUE(key.CreateProductKey(HKEY_CURRENT_USER));
    // Two open handles never share a value: getting the same one back means the
    // first was closed before the second create.
    EXPECT_TRUE(key.Key() == first || IsClosed(first));
    EXPECT_FALSE(IsClosed(key.Key()));
}

TEST_F(RegistryKeyTest, ReleaseAndDestructionCloseTheKey) {
    HKEY held = nullptr;
    {
        RegistryKey key;
        ASSERT_TRUE(key.CreateUserProductKey());
        held = key.Key();
    }
    EXPECT_TRUE(IsClosed(held));

    RegistryKey reused;
    ASSERT_TRUE(reused.CreateUserProductKey());
    held = reused.Key();
    reused.Release();
    EXPECT_FALSE(reused.IsOpen());
    EXPECT_TRUE(IsClosed(held));

    reused.Initialise();
    ASSERT_TRUE(reused.CreateProductKey(HKEY_LOCAL_MACHINE));
    held = reused.Key();
    reused.Initialise();
    EXPECT_FALSE(reused.IsOpen());
    EXPECT_TRUE(IsClosed(held));
}

TEST_F(RegistryKeyTest, CloseWithoutKeyReturnsOne) {
    RegistryKey key;
    EXPECT_TRUE(key.Close());
    EXPECT_FALSE(key.IsOpen());
    ASSERT_TRUE(key.CreateUserProductKey());
    EXPECT_TRUE(key.Close());
    EXPECT_FALSE(key.IsOpen());
    EXPECT_TRUE(key.Close());
}

TEST_F(RegistryKeyTest, FailedCreateHoldsNoKeyAndWritesNothing) {
    // A non-volatile key cannot be created below a volatile one.
    HKEY volatileRoot = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_CURRENT_USER, kVolatileRoot, 0, nullptr, REG_OPTION_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &volatileRoot, nullptr));
    RegistryKey key;
    ASSERT_TRUE(key.CreateUserProductKey());
    EXPECT_FALSE(key.CreateProductKey(volatileRoot));
    EXPECT_FALSE(key.IsOpen());
    EXPECT_FALSE(key.SetInstallMark());
    RegCloseKey(volatileRoot);

    DWORD type = 0;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegGetValueW(HKEY_CURRENT_USER, kProductKey, L"Install",
                                                 RRF_RT_ANY, &type, nullptr, nullptr));
}

TEST_F(RegistryKeyTest, SetInstallMarkOverwritesAValueOfAnotherType) {
    const wchar_t earlier[] = L"yes, a text";
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, kProductKey, L"Install", REG_SZ,
                                             earlier, sizeof(earlier)));
    RegistryKey key;
    ASSERT_TRUE(key.CreateUserProductKey());
    ASSERT_TRUE(key.SetInstallMark());
    key.Close();

    DWORD type = 0;
    DWORD value = 0;
    DWORD size = 16;
    BYTE data[16] = {};
    ASSERT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_CURRENT_USER, kProductKey, L"Install", RRF_RT_ANY,
                                          &type, data, &size));
    memcpy(&value, data, sizeof(value));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    EXPECT_EQ(4u, size);
    EXPECT_EQ(1u, value);
}

TEST_F(RegistryKeyTest, MachineKeyLandsInThe32BitView) {
    RegistryKey key;
    ASSERT_TRUE(key.CreateProductKey(HKEY_LOCAL_MACHINE));
    key.Release();
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, 0));
}
