#include "services/removal_sequence.h"

#include <windows.h>
// These need windows.h first.
#include <shlobj.h>
#include <shlwapi.h>

#include <cstring>
#include <cwchar>

#include "platform/file_in_use.h"
#include "platform/link_guard.h"
#include "platform/private_folder.h"
#include "platform/scoped_handle.h"
#include "platform/text_format.h"
#include "services/components.h"
#include "services/earlier_executables.h"
#include "services/executable_placement.h"
#include "setup/install_log.h"
#include "setup/process_state.h"
#include "setup/product_paths.h"

static_assert(kPathChars == MAX_PATH, "the shell's path functions write MAX_PATH characters");

namespace {

// As the old files: a read-only shortcut (administrators lock icons so) goes
// too, one another program holds is waited for a moment, and a link put in its
// place is deleted itself.
void DeleteShortcut(const wchar_t* path) {
    wchar_t folderPath[kPathChars];
    HeldFolder folder;
    if (ParentFolder(path, folderPath) && OpenFolderFollowingLinks(folderPath, &folder)) {
        const wchar_t* name = path + wcslen(folderPath) + 1;
        RetryWhileFileInUse([&] { return DeleteFileUnfollowed(folder, name); });
    }
}

// A shortcut folder that cannot be obtained, or a name that would not fit, skips
// that shortcut rather than deleting something else.
void DeleteShortcuts(const wchar_t* shortcutName) {
    wchar_t path[kPathChars];
    if (GetStartMenuShortcutPath(shortcutName, path)) {
        DeleteShortcut(path);
    }
    if (GetDesktopShortcutPath(shortcutName, path)) {
        DeleteShortcut(path);
    }
}

// Four times the ten files an installation holds: more entries than that
// refuse the upgrade before anything is touched.
constexpr size_t kHeldFileCapacity = 40;

// The old install folder with every file directly in it opened for deletion.
struct HeldInstallFolder {
    HeldFolder folder;
    ScopedFileHandle files[kHeldFileCapacity];
    wchar_t names[kHeldFileCapacity][kPathChars];
    size_t count = 0;
};

// Calls visit with each entry directly in folder but "." and "..", until one
// visit fails. False, with the last error set, when a visit failed or the
// folder could not be searched; an empty folder is no failure.
template <typename Visit>
bool VisitFolderEntries(const wchar_t* folder, Visit visit) {
    wchar_t pattern[kPathChars];
    if (!FormatText(pattern, L"%s\\*.*", folder)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    WIN32_FIND_DATAW entry;
    ScopedFindHandle search(FindFirstFileW(pattern, &entry));
    if (!search) {
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    do {
        if (wcscmp(entry.cFileName, L".") != 0 && wcscmp(entry.cFileName, L"..") != 0 &&
            !visit(entry)) {
            return false;
        }
    } while (FindNextFileW(search.get(), &entry));
    return GetLastError() == ERROR_NO_MORE_FILES;
}

// Names the entry that holds the removal up, so that an administrator can
// find the program behind it, then says why.
void LogFolderRefusal(const wchar_t* folder, const wchar_t* entryName) {
    const DWORD error = GetLastError();
    if (entryName != nullptr) {
        AppendLogLine(L"%s\\%s を削除できません。", folder, entryName);
    }
    AppendLogLine(L"インストール先ディレクトリを削除できません。");
    SetLastError(error);
    AppendOsMessage();
}

// Known before anything is touched: a file that another program holds
// without delete sharing, or a subfolder, would otherwise keep the folder
// after both services are gone. Held so, no program can newly open a file
// in a way that stops its move. A folder that does not exist holds nothing.
bool HoldOldInstallFolder(const wchar_t* path, HeldInstallFolder* held) {
    if (!PathFileExistsW(path)) {
        return true;
    }
    if (!OpenFolderFollowingLinks(path, &held->folder)) {
        LogFolderRefusal(path, nullptr);
        return false;
    }
    wchar_t refused[kPathChars] = L"";
    const bool holdsAll = VisitFolderEntries(path, [&](const WIN32_FIND_DATAW& entry) {
        // A new executable a run that died left unplaced: written afresh.
        if (IsUnplacedExecutableName(entry.cFileName)) {
            return true;
        }
        wcscpy_s(refused, entry.cFileName);
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            SetLastError(ERROR_DIR_NOT_EMPTY);
            return false;
        }
        if (held->count == kHeldFileCapacity) {
            SetLastError(ERROR_TOO_MANY_OPEN_FILES);
            return false;
        }
        ScopedFileHandle& file = held->files[held->count];
        if (!RetryWhileFileInUse(
                [&] { return OpenFileForDeletion(held->folder, entry.cFileName, &file); }) ||
            !FormatText(held->names[held->count], L"%s", entry.cFileName)) {
            return false;
        }
        ++held->count;
        refused[0] = L'\0';
        return true;
    });
    if (!holdsAll) {
        LogFolderRefusal(path, refused[0] != L'\0' ? refused : nullptr);
    }
    return holdsAll;
}

// The private folder the held files are renamed into, so that no program that
// holds one, maps one or has the folder as its current directory can keep
// the install folder busy. Where no parent can be renamed or written by a
// standard user: in the maker folder when that is on the old folder's volume
// (renames stay on a volume), else at the root of the old folder's volume.
bool AsideFolderParent(const HeldFolder& oldFolder, wchar_t (&parent)[kPathChars]) {
    wchar_t maker[kPathChars];
    HeldFolder makerFolder;
    FileIdentity oldIdentity;
    FileIdentity makerIdentity;
    if (GetMakerFolderPath(maker) && OpenFolderFollowingLinks(maker, &makerFolder) &&
        IdentityOf(oldFolder.handle.get(), &oldIdentity) &&
        IdentityOf(makerFolder.handle.get(), &makerIdentity) &&
        oldIdentity.volumeSerialNumber == makerIdentity.volumeSerialNumber) {
        return FormatText(parent, L"%s", maker);
    }
    if (!GetVolumePathNameW(oldFolder.path, parent, kPathChars)) {
        return false;
    }
    const size_t length = wcslen(parent);
    if (length > 0 && parent[length - 1] == L'\\') {
        parent[length - 1] = L'\0';
    }
    return true;
}

// The folder a run that died left listed holds what protects until the new
// executables run: this run keeps its earlier executables there too.
bool CreateAsideFolder(const HeldFolder& oldFolder, HeldFolder* aside) {
    if (AdoptEarlierExecutables()) {
        if (OpenEarlierExecutablesFolder(aside)) {
            return true;
        }
        // Not the folder a run made: left alone, named in the log, unlisted.
        DiscardEarlierExecutables();
    }
    wchar_t parent[kPathChars];
    return AsideFolderParent(oldFolder, parent) && MakeEarlierExecutablesFolder(parent, aside);
}

// A scanner may map a file for a moment, as it may open one: waited for as
// long as the other in-use files, within one wait for all of them. What still
// cannot go (a loaded library) waits under its number in the aside folder,
// which stays listed until a run can empty it.
void DeleteAside(HANDLE file, const RetryBudget& budget) {
    RetryWithin(budget, {ERROR_SHARING_VIOLATION, ERROR_ACCESS_DENIED},
                [file] { return DeleteOpenedFile(file); });
}

// Each held file leaves the install folder by a rename through its handle,
// which needs nobody's cooperation, and is deleted where it lands, but for the
// services' executables, kept under their names until the new ones run. Only
// a file that can be neither renamed nor deleted fails, naming it.
bool MoveOldFilesAside(HeldInstallFolder* held, const HeldFolder& aside) {
    const RetryBudget budget;
    for (size_t index = 0; index < held->count; ++index) {
        // Kept where it was: an executable the new one has replaced.
        if (!held->files[index]) {
            continue;
        }
        const HANDLE file = held->files[index].get();
        const bool kept = IsComponentExecutable(held->names[index]);
        wchar_t asideName[kPathChars];
        FormatText(asideName, L"%u", static_cast<unsigned>(index));
        if (kept) {
            wcscpy_s(asideName, held->names[index]);
        }
        if (MoveOpenedFileInto(file, aside.handle.get(), asideName)) {
            // A kept executable takes the folder's security: its own may let a
            // standard user write it through its full path. One that cannot
            // is not kept.
            if (!kept || !MakeFilePrivate(file)) {
                DeleteAside(file, budget);
            }
        } else if (!DeleteOpenedFile(file)) {
            const DWORD error = GetLastError();
            AppendLogLine(L"%s\\%s を削除できません。", held->folder.path, held->names[index]);
            SetLastError(error);
            AppendOsMessage();
            return false;
        }
        held->files[index].reset();
    }
    return true;
}

// FILE_ID_INFO, which the toolchain's headers give only for Windows 8 and later.
struct FileIdInfo {
    ULONGLONG volumeSerialNumber;
    BYTE fileId[16];
};
constexpr auto kFileIdInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);

enum class Sameness { kSame, kDifferent, kUnknown };

// The 64-bit index is not unique on ReFS; the 128-bit identity is, where the
// system has it (Windows 8 and later).
Sameness CompareFiles(HANDLE first, HANDLE second) {
    FileIdInfo firstId;
    FileIdInfo secondId;
    if (GetFileInformationByHandleEx(first, kFileIdInfo, &firstId, sizeof(firstId)) &&
        GetFileInformationByHandleEx(second, kFileIdInfo, &secondId, sizeof(secondId))) {
        return firstId.volumeSerialNumber == secondId.volumeSerialNumber &&
                       memcmp(firstId.fileId, secondId.fileId, sizeof(firstId.fileId)) == 0
                   ? Sameness::kSame
                   : Sameness::kDifferent;
    }
    BY_HANDLE_FILE_INFORMATION firstInfo;
    BY_HANDLE_FILE_INFORMATION secondInfo;
    if (!GetFileInformationByHandle(first, &firstInfo) ||
        !GetFileInformationByHandle(second, &secondInfo)) {
        return Sameness::kUnknown;
    }
    return firstInfo.dwVolumeSerialNumber == secondInfo.dwVolumeSerialNumber &&
                   firstInfo.nFileIndexHigh == secondInfo.nFileIndexHigh &&
                   firstInfo.nFileIndexLow == secondInfo.nFileIndexLow
               ? Sameness::kSame
               : Sameness::kDifferent;
}

// Whether the held old install folder is known to be another folder than the
// one the installation uses (made before the first stop, when it was), whatever
// the entry's spelling of it (short names, "/"). One that cannot be told apart
// counts as the same: emptied and kept, never removed from under the new files.
// productFolder receives the installation's folder.
bool IsAnotherFolderThanTheInstallation(const HeldFolder& oldFolder,
                                        wchar_t (&productFolder)[kPathChars]) {
    HeldFolder product;
    const bool named = g_installFolderPath[0] != L'\0'
                           ? FormatText(productFolder, L"%s", g_installFolderPath)
                           : GetProductFolderPath(productFolder);
    if (!oldFolder.handle || !named) {
        return false;
    }
    if (!OpenFolderFollowingLinks(productFolder, &product)) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    return CompareFiles(oldFolder.handle.get(), product.handle.get()) == Sameness::kDifferent;
}

// Every file directly in a data folder, as far as the budget allows: a
// standard user may fill the folder with files and hold them. Access denied
// is final there. Subfolders and links to elsewhere stay.
void DeleteDataFolderFiles(const HeldFolder& folder, const RetryBudget& budget) {
    VisitFolderEntries(folder.path, [&](const WIN32_FIND_DATAW& entry) {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            RetryWithin(budget, {ERROR_SHARING_VIOLATION},
                        [&] { return DeleteFileUnfollowed(folder, entry.cFileName); });
        }
        return true;
    });
}

// The maker folder above the old install folder goes when nothing else is in it;
// a drive or share root is never a candidate.
void RemoveParentFolder(const wchar_t* folder) {
    wchar_t parent[kPathChars];
    if (ParentFolder(folder, parent) && IsRemovableFolder(parent)) {
        RetryWhileFileInUse([&parent] { return RemoveDirectoryW(parent) != FALSE; });
    }
}

// Another folder than the installation's: one that still cannot go, its files
// gone, is logged and left to the next restart; the upgrade goes on.
void RemoveOldInstallFolder(const wchar_t* path) {
    if (PathFileExistsW(path) && !RemoveDirectoryW(path)) {
        AppendLogLine(L"インストール先ディレクトリを削除できません。");
        AppendOsMessage();
        MoveFileExW(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
    RemoveParentFolder(path);
}

// <special folder>\ORBEK\Portvane and then <special folder>\ORBEK, when empty.
// A standard user may create both, and may put either back as a link after a
// removal: then nothing in or through it is touched.
void RemoveDataFolder(int csidl) {
    wchar_t specialFolder[kPathChars] = L"";
    HeldFolder special;
    HeldFolder maker;
    if (!SHGetSpecialFolderPathW(nullptr, specialFolder, csidl, FALSE) ||
        specialFolder[0] == L'\0' || !OpenFolderFollowingLinks(specialFolder, &special) ||
        !OpenSubfolderUnfollowed(special, kMakerWord, &maker)) {
        return;
    }
    const RetryBudget budget;
    {
        HeldFolder product;
        if (OpenSubfolderUnfollowed(maker, kProductWord, &product)) {
            DeleteDataFolderFiles(product, budget);
        }
    }
    RetryWithin(budget, {ERROR_SHARING_VIOLATION, ERROR_DIR_NOT_EMPTY},
                [&maker] { return DeleteSubfolderUnfollowed(maker, kProductWord); });
    maker.handle.reset();
    RetryWithin(budget, {ERROR_SHARING_VIOLATION},
                [&special] { return DeleteSubfolderUnfollowed(special, kMakerWord); });
}

// Opened for the deletion before the first stop, so that a key that cannot
// be deleted refuses the upgrade with nothing changed. An entry that is not
// there has nothing to delete.
bool HoldUninstallRoot(const wchar_t* uninstallKeyName, ScopedRegistryKey* uninstallRoot) {
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallRootKey, 0, KEY_ALL_ACCESS,
                      uninstallRoot->receive()) != ERROR_SUCCESS) {
        return false;
    }
    ScopedRegistryKey entry;
    const LONG status =
        RegOpenKeyExW(uninstallRoot->get(), uninstallKeyName, 0, DELETE, entry.receive());
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) {
        return true;
    }
    SetLastError(static_cast<DWORD>(status));
    AppendLogLine(L"アプリケーションのインストール情報を削除できません。");
    AppendOsMessage();
    return false;
}

// The entry the installation writes again anyway is no reason to fail once
// the services have stopped; another one still is.
bool DeleteUninstallKey(const ScopedRegistryKey& uninstallRoot, const wchar_t* uninstallKeyName) {
    const LONG status = RegDeleteKeyW(uninstallRoot.get(), uninstallKeyName);
    // Already gone, for example deleted by another program meanwhile: the way is clear.
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ||
        status == ERROR_NO_MORE_FILES) {
        return true;
    }
    SetLastError(static_cast<DWORD>(status));
    AppendLogLine(L"アプリケーションのインストール情報を削除できません。");
    AppendOsMessage();
    return _wcsicmp(uninstallKeyName, kUninstallKeyName) == 0;
}

// Only an upgrade, whose caller made the install folder before the first
// stop, has new executables to put in place.
bool IsUpgrade() {
    return g_installFolderPath[0] != L'\0';
}

// Each registered path holds a whole executable at every step. In the
// installation's own folder the earlier file first gets a second name aside,
// then the new one takes its name in one rename. Beside another folder the new
// ones are placed and the registrations pointed at them before anything of
// the old folder moves.
bool PutNewExecutablesInPlace(HeldInstallFolder* held, const HeldFolder& aside, bool elsewhere,
                              const wchar_t* productFolder) {
    if (!IsUpgrade()) {
        return true;
    }
    for (size_t index = 0; index < held->count && !elsewhere; ++index) {
        if (IsComponentExecutable(held->names[index])) {
            // Refused where one waits already (a run that died kept it) or on a
            // file system without links: the whole new file protects then.
            LinkOpenedFileInto(held->files[index].get(), aside.handle.get(), held->names[index]);
            held->files[index].reset();
        }
    }
    return PlaceNewExecutables() && (!elsewhere || PointComponentsAt(productFolder));
}

}  // namespace

bool RunRemovalSequence(const RemovalContext& context, bool (*beforeFirstStop)()) {
    // Nothing is rolled back, so what can fail is found out before the first
    // service stops: past that point only what needs nobody's cooperation is
    // done (renames, reconfiguration), and a failure leaves the services to
    // be started again.
    HeldInstallFolder oldFolder;
    ScopedRegistryKey uninstallRoot;
    HeldFolder aside;
    if (!HoldOldInstallFolder(context.oldInstallFolder, &oldFolder) ||
        !HoldUninstallRoot(context.uninstallKeyName, &uninstallRoot)) {
        return false;
    }
    // The aside folder after the caller's folders: the maker folder is its place.
    if (beforeFirstStop != nullptr && !beforeFirstStop()) {
        return false;
    }
    if (oldFolder.count > 0 && !CreateAsideFolder(oldFolder.folder, &aside)) {
        LogFolderRefusal(context.oldInstallFolder, nullptr);
        return false;
    }
    // Emptied and kept when the installation reuses it: a program whose
    // current directory it is cannot then hold the upgrade up. Another folder
    // goes only once no registration names it: anyone may make it again
    // (a folder under a drive's root) and fill it, whatever happens next.
    wchar_t productFolder[kPathChars] = L"";
    const bool elsewhere = IsAnotherFolderThanTheInstallation(oldFolder.folder, productFolder);
    const bool stopped = StopComponents();
    const bool placed =
        stopped && PutNewExecutablesInPlace(&oldFolder, aside, elsewhere, productFolder);
    const bool moved = placed && MoveOldFilesAside(&oldFolder, aside);
    if (moved) {
        ForgetOldExecutables();
    }
    aside.handle.reset();
    if (!moved) {
        return false;
    }
    DeleteShortcuts(context.shortcutName);
    oldFolder.folder.handle.reset();
    if (elsewhere && (IsUpgrade() || PointComponentsAt(productFolder))) {
        RemoveOldInstallFolder(context.oldInstallFolder);
    }

    RemoveDataFolder(CSIDL_COMMON_APPDATA);
    RemoveDataFolder(CSIDL_LOCAL_APPDATA);
    return DeleteUninstallKey(uninstallRoot, context.uninstallKeyName);
}
