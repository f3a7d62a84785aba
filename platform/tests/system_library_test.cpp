// Libraries come from System32 only, even with a DLL planted in the current folder.
#include "platform/system_library.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/scoped_handle.h"

namespace {

std::wstring ModulePath(HMODULE module) {
    wchar_t path[MAX_PATH] = L"";
    GetModuleFileNameW(module, path, MAX_PATH);
    return path;
}

// A library under a name Windows does not know, in a folder of its own that is
// the current folder: where a Downloads folder would hold a planted DLL.
class PlantedLibrary : public testing::Test {
  protected:
    void SetUp() override {
        wchar_t temporary[MAX_PATH] = L"";
        GetTempPathW(MAX_PATH, temporary);
        folder_ = std::wstring(temporary) + L"pv_planted_library";
        CreateDirectoryW(folder_.c_str(), nullptr);
        wchar_t buildDir[MAX_PATH] = L"";
        GetEnvironmentVariableW(L"PORTVANE_BUILD_DIR", buildDir, MAX_PATH);
        const std::wstring source = std::wstring(buildDir) + L"\\payload-files\\DiskInfo.dll";
        ASSERT_TRUE(CopyFileW(source.c_str(), Planted().c_str(), FALSE)) << GetLastError();
        GetCurrentDirectoryW(MAX_PATH, previousFolder_);
        ASSERT_TRUE(SetCurrentDirectoryW(folder_.c_str()));
    }
    void TearDown() override {
        SetCurrentDirectoryW(previousFolder_);
        DeleteFileW(Planted().c_str());
        RemoveDirectoryW(folder_.c_str());
    }
    std::wstring Planted() const { return folder_ + L"\\" + kName; }

    static constexpr const wchar_t* kName = L"pv_planted.dll";
    std::wstring folder_;
    wchar_t previousFolder_[MAX_PATH] = L"";
};

}  // namespace

TEST_F(PlantedLibrary, OnlySystem32IsSearchedOnceRestricted) {
    {
        wchar_t system[MAX_PATH] = L"";
        GetSystemDirectoryW(system, MAX_PATH);
        const ScopedModule richEdit(LoadSystemLibrary(L"Riched20.dll"));
        ASSERT_TRUE(richEdit);
        EXPECT_EQ(0, _wcsicmp((std::wstring(system) + L"\\riched20.dll").c_str(),
                              ModulePath(richEdit.get()).c_str()))
            << ModulePath(richEdit.get());
        // Without the restriction the plain name finds the planted file.
        const ScopedModule found(LoadLibraryW(kName));
        ASSERT_TRUE(found) << "the plant is not loadable, so the test proves nothing";
        EXPECT_EQ(0, _wcsicmp(Planted().c_str(), ModulePath(found.get()).c_str()));
        EXPECT_FALSE(ScopedModule(LoadSystemLibrary(kName))) << "System32 holds no such file";
    }
    ASSERT_EQ(nullptr, GetModuleHandleW(kName));
    RestrictDllSearchToSystem32();
    const ScopedModule found(LoadLibraryW(kName));
    EXPECT_FALSE(found) << ModulePath(found.get());
}
