// Detection against Wine's registry and processor, in the test bed's 64-bit prefix.
#include "platform/system_info.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "platform/scoped_handle.h"

namespace {

const wchar_t kFullKey[] = L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full";
const wchar_t kClientKey[] = L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Client";

struct DotNetStep {
    const wchar_t* key;
    const wchar_t* name;
    DWORD type;
    DWORD value;
    bool installed;  // after this value is written over the steps before
};

const DotNetStep kSteps[] = {
    {kFullKey, L"Release", REG_DWORD, 378388, false},
    {kFullKey, L"Release", REG_DWORD, 378389, true},  // the first 4.5 release
    {kFullKey, L"Release", REG_DWORD, 378388, false},
    {kClientKey, L"Install", REG_DWORD, 1, true},
    {kClientKey, L"Install", REG_DWORD, 2, false},
    {kClientKey, L"Install", REG_SZ, L'1', false},  // the text "1"
};

void RemoveDotNetKeys() {
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kFullKey);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kClientKey);
}

}  // namespace

// The keys are removed and not restored: the test prefix is the test bed's own.
TEST(DotNetDetection, Release378389OrAClientInstallOfOneMeansInstalled) {
    RemoveDotNetKeys();
    EXPECT_FALSE(IsDotNet4Installed()) << "no keys";
    for (const DotNetStep& step : kSteps) {
        ScopedRegistryKey key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, step.key, 0, nullptr, 0,
                                                 KEY_SET_VALUE, nullptr, key.receive(), nullptr));
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExW(key.get(), step.name, 0, step.type,
                                 reinterpret_cast<const BYTE*>(&step.value), sizeof(step.value)));
        EXPECT_EQ(step.installed, IsDotNet4Installed()) << step.name << " = " << step.value;
    }
    RemoveDotNetKeys();
}

TEST(Processor, A64BitPrefixReportsX64Only) {
    EXPECT_TRUE(IsX64());
    EXPECT_FALSE(IsX86());
    EXPECT_EQ(2, ProcessorKind());
    EXPECT_TRUE(ProcessorMatch(0));
    EXPECT_TRUE(ProcessorMatch(2));
    EXPECT_FALSE(ProcessorMatch(1));
}
