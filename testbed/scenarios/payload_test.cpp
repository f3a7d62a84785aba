// The payload as a user's machine sees it: extracted at start into a staging
// folder of its own, refused whole when a module is missing or damaged, and
// gone after the setup ends.
#include <algorithm>
#include <fstream>
#include <iterator>

#include "testbed/scenarios/startup_fixture.h"

namespace {

struct ModuleFile {
    const wchar_t* fileName;
    const wchar_t* resourceName;
};

const ModuleFile kModules[] = {
    {L"Portvane.exe", L"PORTVANE_EXE"},
    {L"Portvane_PService.exe", L"PORTVANE_PSERVICE_EXE"},
    {L"Portvane_DService.exe", L"PORTVANE_DSERVICE_EXE"},
    {L"Portvane_Tray.exe", L"PORTVANE_TRAY_EXE"},
    {L"dm.exe", L"DM_EXE"},
    {L"DiskInfo.dll", L"DISKINFO_DLL"},
    {L"SQLite.Interop.dll", L"SQLITE_INTEROP_DLL"},
    {L"Readme.rtf", L"README_RTF"},
    {L"License.rtf", L"LICENSE_RTF"},
    {L"Uninst.exe", L"UNINST_EXE"},
};

constexpr wchar_t kCannotInstall[] = L"インストールできません。";

std::string ReadWhole(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteWhole(const std::wstring& path, const std::string& bytes) {
    std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The packed bytes of one MODULE resource of the built exe.
std::string PackedModule(const wchar_t* resourceName) {
    ScopedModule exe(LoadLibraryExW(BuildPath(L"Portvane_Setup.exe").c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    HRSRC found = FindResourceW(exe.get(), resourceName, L"MODULE");
    if (found == nullptr) {
        return {};
    }
    const char* data = static_cast<const char*>(LockResource(LoadResource(exe.get(), found)));
    return std::string(data, SizeofResource(exe.get(), found));
}

// Case is not significant in the temporary folder.
std::vector<std::wstring> SortedIgnoringCase(std::vector<std::wstring> names) {
    std::sort(names.begin(), names.end(), [](const std::wstring& a, const std::wstring& b) {
        return _wcsicmp(a.c_str(), b.c_str()) < 0;
    });
    return names;
}

class PayloadScenario : public SetupScenario {
protected:
    void TearDown() override {
        SetupScenario::TearDown();
        if (!damagedExe_.empty()) {
            DeleteFileW(damagedExe_.c_str());
        }
    }

    // The one staging folder the setup under test made.
    std::wstring NewStagingFolder() {
        std::vector<std::wstring> added;
        for (const std::wstring& folder : StagingFolders()) {
            if (std::find(stagingBefore_.begin(), stagingBefore_.end(), folder) == stagingBefore_.end()) {
                added.push_back(folder);
            }
        }
        EXPECT_EQ(1u, added.size()) << "one new staging folder";
        return added.empty() ? std::wstring() : added[0];
    }

    // The folder holds the first rows of the module table, each at its
    // unpacked size, and nothing else: no packed copy, no later row.
    void ExpectRowsExtracted(const std::wstring& folder, size_t rows) {
        std::vector<std::wstring> expected;
        for (size_t row = 0; row < rows; ++row) {
            const wchar_t* name = kModules[row].fileName;
            expected.push_back(name);
            EXPECT_EQ(FileSize(BuildPath(std::wstring(L"payload-files\\") + name)),
                      FileSize(folder + L"\\" + name))
                << name;
        }
        EXPECT_EQ(SortedIgnoringCase(expected), SortedIgnoringCase(ListFiles(folder)));
    }

    // A copy of the built setup beside it, to be damaged by the test.
    std::wstring CopyOfSetup(const wchar_t* name) {
        damagedExe_ = BuildPath(name);
        EXPECT_TRUE(CopyFileW(BuildPath(L"Portvane_Setup.exe").c_str(), damagedExe_.c_str(), FALSE));
        return damagedExe_;
    }

    // The damaged setup refuses with message 104 once the rows before the
    // damaged one are extracted, and leaves no staging folder.
    void ExpectExtractionRefused(const std::wstring& exe, size_t rowsBeforeDamage) {
        const std::vector<std::wstring> temporaryBefore = TemporaryFolderEntries();
        setup_ = LaunchProgram(exe);
        MessageBoxInfo box = WaitForMessageBox(setup_.processId, kStartTimeoutMs);
        ASSERT_NE(nullptr, box.window) << "no message box";
        EXPECT_EQ(kCannotInstall, box.text);
        EXPECT_EQ(kCaptionText, box.caption);
        EXPECT_FALSE(box.hasIcon);
        EXPECT_TRUE(box.topmost) << "a system-modal box stays on top";
        SaveScreenshot(box.window, L"message-104-cannot-install");

        const std::wstring staging = NewStagingFolder();
        ExpectRowsExtracted(staging, rowsBeforeDamage);
        std::vector<std::wstring> temporaryExpected = temporaryBefore;
        temporaryExpected.push_back(staging.substr(staging.find_last_of(L'\\') + 1));
        EXPECT_EQ(SortedIgnoringCase(temporaryExpected), SortedIgnoringCase(TemporaryFolderEntries()))
            << "no temporary decoding file beside the staging folder";

        DismissMessageBox(box);
        EXPECT_EQ(1u, WaitForExit(setup_, kStartTimeoutMs));
        EXPECT_EQ(temporaryBefore, TemporaryFolderEntries())
            << "the partly filled staging folder or a temporary file stays";
    }

    std::wstring damagedExe_;
};

}  // namespace

TEST_F(PayloadScenario, StagingFolderHoldsExactlyTheTenUnpackedFilesUntilExit) {
    setup_ = LaunchSetup();
    HWND wizard = WaitForDialog(setup_.processId, kCaptionText, kStartTimeoutMs);
    ASSERT_NE(nullptr, wizard);
    const std::wstring staging = NewStagingFolder();
    ASSERT_FALSE(staging.empty());
    ExpectRowsExtracted(staging, std::size(kModules));

    ASSERT_TRUE(Click(wizard, IDCANCEL));
    EXPECT_EQ(0u, WaitForExit(setup_, kStartTimeoutMs));
    EXPECT_FALSE(PathExists(staging));
}

TEST_F(PayloadScenario, MissingModuleRefusesWith104) {
    // Renaming the resource in the resource directory (where names are stored
    // upper-case, in UTF-16) leaves the exe whole but without "dm_exe".
    const std::wstring exe = CopyOfSetup(L"setup-without-dm.exe");
    std::string image = ReadWhole(exe);
    const std::wstring stored = L"DM_EXE";
    const std::string storedBytes(reinterpret_cast<const char*>(stored.data()), stored.size() * 2);
    const size_t at = image.find(storedBytes);
    ASSERT_NE(std::string::npos, at);
    image[at + 2] = 'X';
    WriteWhole(exe, image);
    ExpectExtractionRefused(exe, 4);
}

TEST_F(PayloadScenario, OneFlippedByteInAModuleRefusesWith104BeforeItsRowIsWritten) {
    const std::string packed = PackedModule(kModules[3].resourceName);
    ASSERT_GT(packed.size(), 1000u);
    const std::wstring exe = CopyOfSetup(L"setup-with-flipped-byte.exe");
    std::string image = ReadWhole(exe);
    const size_t at = image.find(packed);
    ASSERT_NE(std::string::npos, at);
    image[at + packed.size() / 2] = static_cast<char>(image[at + packed.size() / 2] ^ 0x10);
    WriteWhole(exe, image);
    ExpectExtractionRefused(exe, 3);
}
