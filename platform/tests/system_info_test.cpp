#include "platform/system_info.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "platform/scoped_handle.h"

namespace {

const wchar_t kFullKey[] = L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full";
const wchar_t kClientKey[] = L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Client";

// Each test starts with no .NET keys in the 32-bit view and restores nothing:
// the test prefix is the test bed's own.
class DotNetDetection : public ::testing::Test {
  protected:
    void SetUp() override { RemoveKeys(); }
    void TearDown() override { RemoveKeys(); }

    static void RemoveKeys() {
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, kFullKey);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, kClientKey);
    }

    static void SetValue(const wchar_t* keyPath, const wchar_t* name, DWORD type, const void* data,
                         DWORD size) {
        ScopedRegistryKey key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, key.receive(), nullptr));
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), size));
    }

    static void SetDword(const wchar_t* keyPath, const wchar_t* name, DWORD value) {
        SetValue(keyPath, name, REG_DWORD, &value, sizeof(value));
    }
};

}  // namespace

TEST_F(DotNetDetection, MissingKeysMeanNotInstalled) {
    EXPECT_FALSE(IsDotNet4Installed());
}

TEST_F(DotNetDetection, ReleaseThresholdIsTheFirstDotNet45Release) {
    SetDword(kFullKey, L"Release", 378388);
    EXPECT_FALSE(IsDotNet4Installed());
    SetDword(kFullKey, L"Release", 378389);
    EXPECT_TRUE(IsDotNet4Installed());
}

TEST_F(DotNetDetection, ClientProfileAloneIsEnoughButOnlyWithInstallOne) {
    SetDword(kFullKey, L"Release", 378388);
    SetDword(kClientKey, L"Install", 1);
    EXPECT_TRUE(IsDotNet4Installed());
    SetDword(kClientKey, L"Install", 2);
    EXPECT_FALSE(IsDotNet4Installed());
    SetValue(kClientKey, L"Install", REG_SZ, L"1", 4);
    EXPECT_FALSE(IsDotNet4Installed());
}

TEST(Processor, A64BitPrefixReportsX64Only) {
    // The test bed runs in a 64-bit prefix, as 32-bit setup on 64-bit Windows.
    EXPECT_TRUE(IsX64());
    EXPECT_FALSE(IsX86());
    EXPECT_EQ(2, ProcessorKind());
    EXPECT_TRUE(ProcessorMatch(0));
    EXPECT_TRUE(ProcessorMatch(2));
    EXPECT_FALSE(ProcessorMatch(1));
}
