#include "platform/system_library.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/scoped_handle.h"

namespace {

std::wstring FolderOf(const std::wstring& path) {
    return path.substr(0, path.rfind(L'\\'));
}

std::wstring ModulePath(HMODULE module) {
    wchar_t path[MAX_PATH] = L"";
    GetModuleFileNameW(module, path, MAX_PATH);
    return path;
}

std::wstring SystemFolder() {
    wchar_t folder[MAX_PATH] = L"";
    GetSystemDirectoryW(folder, MAX_PATH);
    return folder;
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

TEST(SystemLibrary, LoadsTheLibraryOfSystem32ByItsFullPath) {
    const ScopedModule richEdit(LoadSystemLibrary(L"Riched20.dll"));
    ASSERT_TRUE(richEdit);
    EXPECT_EQ(0, _wcsicmp(SystemFolder().c_str(), FolderOf(ModulePath(richEdit.get())).c_str()))
        << ModulePath(richEdit.get());
    EXPECT_FALSE(ScopedModule(LoadSystemLibrary(L"pv_no_such_library.dll")));
}

TEST_F(PlantedLibrary, RestrictedSearchNoLongerFindsADllInTheCurrentFolder) {
    {
        // Without the restriction the plain name finds the planted file.
        const ScopedModule found(LoadLibraryW(kName));
        ASSERT_TRUE(found) << "the plant is not loadable, so the test proves nothing";
        EXPECT_EQ(0, _wcsicmp(Planted().c_str(), ModulePath(found.get()).c_str()));
    }
    ASSERT_EQ(nullptr, GetModuleHandleW(kName));
    RestrictDllSearchToSystem32();
    const ScopedModule found(LoadLibraryW(kName));
    EXPECT_FALSE(found) << ModulePath(found.get());
    EXPECT_FALSE(ScopedModule(LoadSystemLibrary(kName)));
}
