// The staging folder: where it is made, who may open it, the module paths in
// it, a planted folder, and its removal.
#include "payload/staging_folder.h"
#include "platform/private_folder.h"

#include <windows.h>

#include <aclapi.h>
#include <gtest/gtest.h>

#include <cwctype>

#include "payload/tests/file_helpers.h"
#include "platform/scoped_handle.h"
#include "setup/process_state.h"

namespace {

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) {
    BYTE buffer[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(buffer);
    return CreateWellKnownSid(type, nullptr, buffer, &size) && EqualSid(sid, buffer);
}

// Checks that descriptor's DACL is protected from inheritance and allows full
// access to Administrators and SYSTEM and to nobody else; inheritFlags are the
// flags each entry must carry.
void ExpectOnlyAdministratorsAndSystem(PSECURITY_DESCRIPTOR descriptor, BYTE inheritFlags) {
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
    if (inheritFlags != INHERITED_ACE) {
        EXPECT_TRUE(control & SE_DACL_PROTECTED) << "the parent's entries would be inherited";
    }
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
    ASSERT_TRUE(present);
    ASSERT_NE(nullptr, dacl) << "a null DACL admits everyone";
    ASSERT_EQ(2, dacl->AceCount);
    bool administrators = false;
    bool system = false;
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, index, reinterpret_cast<void**>(&ace)));
        EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, ace->Header.AceType);
        EXPECT_EQ(inheritFlags, ace->Header.AceFlags);
        EXPECT_EQ(static_cast<DWORD>(FILE_ALL_ACCESS), ace->Mask);
        PSID sid = &ace->SidStart;
        administrators = administrators || IsWellKnown(sid, WinBuiltinAdministratorsSid);
        system = system || IsWellKnown(sid, WinLocalSystemSid);
    }
    EXPECT_TRUE(administrators);
    EXPECT_TRUE(system);
}

// Wine keeps no security descriptor of its own for files and folders: it
// answers with one made from the Unix permissions.
bool FileSystemKeepsSecurity() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr;
}

class StagingFolder : public ::testing::Test {
  protected:
    void TearDown() override {
        RemoveStagingFolder();
        EXPECT_EQ(L'\0', g_stagingFolderPath[0]);
    }
};

TEST_F(StagingFolder, IsANewUasFolderInTheTemporaryFolder) {
    ASSERT_TRUE(CreateStagingFolder());
    const std::wstring path = g_stagingFolderPath;
    const std::wstring temporary = TemporaryFolder();
    ASSERT_EQ(0, _wcsnicmp(path.c_str(), temporary.c_str(), temporary.size()));
    const std::wstring name = path.substr(temporary.size());
    EXPECT_EQ(0, _wcsnicmp(name.c_str(), L"uas", 3)) << name;
    EXPECT_EQ(L".tmp", name.substr(name.size() - 4));
    for (wchar_t digit : name.substr(3, name.size() - 7)) {
        EXPECT_TRUE(iswxdigit(digit)) << name;
    }
    EXPECT_TRUE(FolderExists(path));
    EXPECT_TRUE(NamesIn(path).empty());

    // A scanner's short look at a module does not keep the folder behind, nor
    // does a module deleted while the indexer still holds it.
    wchar_t module[kPathChars];
    wchar_t indexed[kPathChars];
    ASSERT_TRUE(StagingPathOf(L"dm.exe", module) && StagingPathOf(L"Readme.rtf", indexed));
    ASSERT_TRUE(WriteBytes(module, Bytes(10, 1)) && WriteBytes(indexed, Bytes(10, 1)));
    std::thread scanner = HoldFileFor(module, 300);
    std::thread indexer = HoldFileFor(indexed, 600, true);
    ASSERT_TRUE(scanner.joinable() && indexer.joinable());
    RemoveStagingFolder();
    scanner.join();
    indexer.join();
    EXPECT_FALSE(FolderExists(path));
}

TEST_F(StagingFolder, DescriptorAdmitsOnlyAdministratorsAndSystem) {
    ScopedLocalMemory descriptor = PrivateFolderDescriptor();
    ASSERT_TRUE(descriptor.valid());
    ExpectOnlyAdministratorsAndSystem(descriptor.get(), OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
}

TEST_F(StagingFolder, FolderAndItsFilesAdmitOnlyAdministratorsAndSystem) {
    if (!FileSystemKeepsSecurity()) {
        GTEST_SKIP() << "Wine derives file security from Unix permissions";
    }
    ASSERT_TRUE(CreateStagingFolder());
    wchar_t module[kPathChars];
    ASSERT_TRUE(StagingPathOf(L"Portvane_PService.exe", module));
    ASSERT_TRUE(WriteBytes(module, Bytes(100, 0x4D)));
    for (const wchar_t* path :
         {static_cast<const wchar_t*>(g_stagingFolderPath), static_cast<const wchar_t*>(module)}) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
                  GetNamedSecurityInfoW(path, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                        nullptr, nullptr, nullptr, &descriptor));
        ScopedLocalMemory owned(descriptor);
        ExpectOnlyAdministratorsAndSystem(
            descriptor,
            path == module ? INHERITED_ACE : OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    }
}

TEST_F(StagingFolder, PlantedFolderIsRefused) {
    ScratchFolder scratch;
    const std::wstring planted = scratch / L"uas1A2B.tmp";
    ASSERT_TRUE(CreateDirectoryW(planted.c_str(), nullptr));
    EXPECT_FALSE(CreatePrivateFolder(planted.c_str()).valid());
    const std::wstring plantedFile = scratch / L"uas1A2C.tmp";
    ASSERT_TRUE(WriteBytes(plantedFile, Bytes(1, 0)));
    EXPECT_FALSE(CreatePrivateFolder(plantedFile.c_str()).valid());
    BY_HANDLE_FILE_INFORMATION fresh;
    ScopedFileHandle folder = CreatePrivateFolder((L"\\\\?\\" + scratch / L"uas1A2D.tmp").c_str());
    ASSERT_TRUE(GetFileInformationByHandle(folder.get(), &fresh));
    EXPECT_TRUE(fresh.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(StagingFolder, CannotBeRenamedAwayWhileItExists) {
    ASSERT_TRUE(CreateStagingFolder());
    const std::wstring path = g_stagingFolderPath;
    EXPECT_FALSE(MoveFileW(path.c_str(), (path + L".moved").c_str()));
    EXPECT_TRUE(FolderExists(path));
    RemoveStagingFolder();
    EXPECT_FALSE(FolderExists(path));
}

TEST_F(StagingFolder, ModulePathsGetExactlyOneBackslash) {
    wchar_t path[kPathChars];
    wcscpy(g_stagingFolderPath, L"C:\\Users\\user\\Temp\\uas1A2B.tmp\\");
    ASSERT_TRUE(StagingPathOf(L"License.rtf", path));
    EXPECT_STREQ(L"C:\\Users\\user\\Temp\\uas1A2B.tmp\\License.rtf", path);
    wcscpy(g_stagingFolderPath, L"C:\\Users\\user\\Temp\\uas1A2B.tmp");
    ASSERT_TRUE(StagingPathOf(L"License.rtf", path));
    EXPECT_STREQ(L"C:\\Users\\user\\Temp\\uas1A2B.tmp\\License.rtf", path);
    g_stagingFolderPath[0] = L'\0';
}

TEST_F(StagingFolder, ModulePathThatWouldNotFitFails) {
    wchar_t path[kPathChars];
    const std::wstring folder = L"C:\\" + std::wstring(kPathChars - 16, L'f');
    wcscpy(g_stagingFolderPath, folder.c_str());
    EXPECT_TRUE(StagingPathOf(L"dm.exe", path));
    EXPECT_FALSE(StagingPathOf(L"SQLite.Interop.dll", path));
    EXPECT_STREQ(L"", path);
    g_stagingFolderPath[0] = L'\0';
}

TEST_F(StagingFolder, TemporaryFolderTooLongForTheModulePathsFails) {
    ScratchFolder scratch;
    // Long enough that uasXXXX.tmp fits its buffer but the module paths would not.
    std::wstring deep = scratch.path();
    while (deep.size() < kPathChars - 30) {
        deep += L"\\" + std::wstring(std::min<size_t>(40, kPathChars - 30 - deep.size()), L'd');
        ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr));
    }
    TemporaryFolderSwitch longTemporary(deep);
    EXPECT_FALSE(CreateStagingFolder());
    EXPECT_EQ(L'\0', g_stagingFolderPath[0]);
    EXPECT_TRUE(NamesIn(deep).empty());
}

TEST_F(StagingFolder, MissingTemporaryFolderFails) {
    ScratchFolder scratch;
    TemporaryFolderSwitch missing(scratch / L"missing");
    EXPECT_FALSE(CreateStagingFolder());
    EXPECT_EQ(L'\0', g_stagingFolderPath[0]);
}

TEST_F(StagingFolder, RemovalLeavesForeignFilesAndTheirFolder) {
    ASSERT_TRUE(CreateStagingFolder());
    const std::wstring path = g_stagingFolderPath;
    wchar_t module[kPathChars];
    ASSERT_TRUE(StagingPathOf(L"Readme.rtf", module));
    ASSERT_TRUE(WriteBytes(module, Bytes(10, 1)));
    ASSERT_TRUE(WriteBytes(path + L"\\other.txt", Bytes(10, 2)));
    RemoveStagingFolder();
    EXPECT_EQ(std::vector<std::wstring>{L"other.txt"}, NamesIn(path));
    DeleteTree(path);
}

}  // namespace
