#include "install/worker.h"

#include <windows.h>
#include <io.h>

#include <cstdio>
#include <cwchar>

#include "install/installation_lock.h"
#include "install/registration.h"
#include "install/shortcuts.h"
#include "payload/module_table.h"
#include "platform/file_in_use.h"
#include "platform/scoped_handle.h"
#include "services/components.h"
#include "services/previous_installation.h"
#include "services/service_hold.h"
#include "services/uninstall_command.h"
#include "setup/install_log.h"
#include "setup/process_state.h"
#include "setup/product_paths.h"

namespace {

// Lets the progress page stay visible for a moment even on a fast installation.
constexpr DWORD kReportDelayMilliseconds = 1000;

struct StreamTraits {
    static FILE* Invalid() { return nullptr; }
    static bool IsValid(FILE* stream) { return stream != nullptr; }
    static void Close(FILE* stream) { fclose(stream); }
};
using ScopedStream = ScopedHandle<FILE*, StreamTraits>;

// A path that would not fit its buffer fails its step with the step's own line,
// naming the path it would have been.
void LogPathTooLong(const wchar_t* format, const wchar_t* folder, const wchar_t* name) {
    AppendLogLine(format, folder, name);
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    AppendOsMessage();
}

// An existing file or folder of that name is used as it is, also when only
// the create finds it. A folder just removed while another program still held
// it is waited for a moment.
bool EnsureFolder(const wchar_t* path) {
    return RetryWhileFileInUse([path] {
        return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES ||
               CreateDirectoryW(path, nullptr) != FALSE || GetLastError() == ERROR_ALREADY_EXISTS;
    });
}

// Size as the C runtime reports it, signed 32-bit; a source that cannot be
// opened, or a negative length, counts nothing.
unsigned MeasuredLength(const wchar_t* path) {
    ScopedStream stream(_wfopen(path, L"rb"));
    if (!stream) {
        return 0;
    }
    const long length = _filelength(_fileno(stream.get()));
    return length < 0 ? 0 : static_cast<unsigned>(length);
}

// The free space of the volume that holds path, asked of the nearest folder
// that exists: the product folder may not be there yet.
bool VolumeFreeBytes(const wchar_t* path, ULONGLONG* freeBytes) {
    wchar_t folder[kPathChars];
    wcscpy_s(folder, path);
    ULARGE_INTEGER available;
    while (!GetDiskFreeSpaceExW(folder, &available, nullptr, nullptr)) {
        wchar_t parent[kPathChars];
        if (!ParentFolder(folder, parent)) {
            return false;
        }
        wcscpy_s(folder, parent);
    }
    *freeBytes = available.QuadPart;
    return true;
}

// A user may fill the disk; found out after the removal, the failure would
// leave the machine without the product. A volume that cannot be asked is
// left to the copies.
bool InstallVolumeHasRoom() {
    wchar_t productFolder[kPathChars];
    ULONGLONG freeBytes = 0;
    if (!GetProductFolderPath(productFolder) || !VolumeFreeBytes(productFolder, &freeBytes)) {
        return true;
    }
    ULONGLONG neededBytes = 0;
    for (const PayloadModule* module = kModuleTable; module->fileName != nullptr; ++module) {
        wchar_t source[kPathChars];
        if (JoinPath(source, g_stagingFolderPath, module->fileName)) {
            neededBytes += MeasuredLength(source);
        }
    }
    if (neededBytes <= freeBytes) {
        return true;
    }
    wchar_t target[kPathChars];
    if (!JoinPath(target, productFolder, kModuleTable[0].fileName)) {
        return true;
    }
    AppendLogLine(L"%s をコピーできません。", target);
    SetLastError(ERROR_DISK_FULL);
    AppendOsMessage();
    return false;
}

// As the copies: a read-only link (administrators lock icons so) is replaced,
// one another program holds is waited for a moment, and one that still cannot
// be written is named in the log.
bool SaveShortcut(const wchar_t* linkPath, const wchar_t* targetPath) {
    const bool saved = RetryWhileFileInUse([&] {
        SetFileAttributesW(linkPath, FILE_ATTRIBUTE_NORMAL);
        return CreateShortcut(linkPath, targetPath);
    });
    if (!saved) {
        AppendLogLine(L"%s を作成できません。", linkPath);
        AppendOsMessage();
    }
    return saved;
}

}  // namespace

bool RemoveEarlierInstallation() {
    if (!InstallVolumeHasRoom() || !ComponentsFreeOfDeletion()) {
        return false;
    }
    // The folders, the new service executables in them and the handles to the
    // services are made before the first stop: what cannot be made then
    // refuses the upgrade with the old installation still running.
    if (RemovePreviousInstallation([] {
            return CreateInstallFolders() && StageNewExecutables() && HoldComponentServices();
        })) {
        return true;
    }
    AppendLogLine(L"アンインストール処理に失敗しました。");
    return false;
}

bool CreateInstallFolders() {
    // Set only once both folders are there: made before the removal's first
    // stop, the path stays what a failure after it starts the services from.
    wchar_t makerFolder[kPathChars];
    wchar_t productFolder[kPathChars];
    // A maker folder that cannot be made fails without a line of its own.
    if (!GetMakerFolderPath(makerFolder) || !EnsureFolder(makerFolder)) {
        return false;
    }
    if (!GetProductFolderPath(productFolder)) {
        LogPathTooLong(L"%s\\%s を作成できません。", makerFolder, kProductWord);
        return false;
    }
    if (!EnsureFolder(productFolder)) {
        AppendLogLine(L"%s を作成できません。", productFolder);
        AppendOsMessage();
        return false;
    }
    wcscpy_s(g_installFolderPath, productFolder);
    return true;
}

bool CopyPayloadModules(InstallRun& run) {
    const wchar_t* const copyFailed = L"%s\\%s をコピーできません。";
    wchar_t target[kPathChars] = L"";
    for (const PayloadModule* module = kModuleTable; module->fileName != nullptr; ++module) {
        wchar_t source[kPathChars];
        if (!JoinPath(target, g_installFolderPath, module->fileName) ||
            !JoinPath(source, g_stagingFolderPath, module->fileName)) {
            LogPathTooLong(copyFailed, g_installFolderPath, module->fileName);
            return false;
        }
        // A service executable is never written at the path its registration
        // names: a restart there must find a whole file. Elsewhere the copy
        // clears the read-only flag an earlier installation may have left;
        // that fails harmlessly while the target does not exist yet.
        const bool copied = IsComponentExecutable(module->fileName)
                                ? PutComponentExecutableInPlace(module->fileName)
                                : RetryWhileFileInUse([&] {
                                      SetFileAttributesW(target, FILE_ATTRIBUTE_NORMAL);
                                      return CopyFileW(source, target, FALSE) != FALSE;
                                  });
        if (!copied) {
            AppendLogLine(L"%s をコピーできません。", target);
            AppendOsMessage();
            return false;
        }
        SetFileAttributesW(target, FILE_ATTRIBUTE_NORMAL);
        run.copiedBytes += MeasuredLength(source);
    }
    wcscpy_s(run.uninstallerPath, target);
    return true;
}

bool InstallProductServices() {
    if (InstallComponents()) {
        StartStoppedDependents();
        return true;
    }
    AppendLogLine(L"サービスおよびドライバーをインストールできません。");
    return false;
}

bool CreateProductShortcuts(InstallRun& run) {
    // A shortcut path that would not fit ends the installation without a line.
    wchar_t linkPath[kPathChars];
    return JoinPath(run.applicationPath, g_installFolderPath, kModuleTable[0].fileName) &&
           GetStartMenuShortcutPath(linkPath) && SaveShortcut(linkPath, run.applicationPath) &&
           GetDesktopShortcutPath(linkPath) && SaveShortcut(linkPath, run.applicationPath);
}

bool RegisterProduct(const InstallRun& run) {
    // The settings keys are a convenience for the product; their failure is not
    // the installation's.
    WriteProductSettingsKeys();
    return WriteUninstallEntry(run.uninstallerPath, run.applicationPath, run.copiedBytes);
}

const InstallStep kInstallSteps[] = {
    [](InstallRun&) { return RemoveEarlierInstallation(); },
    [](InstallRun&) { return CreateInstallFolders(); },
    CopyPayloadModules,
    [](InstallRun&) { return InstallProductServices(); },
    CreateProductShortcuts,
    [](InstallRun& run) { return RegisterProduct(run); },
};
static_assert(sizeof(kInstallSteps) / sizeof(kInstallSteps[0]) == kInstallStepCount,
              "the count the benchmark relies on");

namespace {

// Held from the removal to the uninstall entry: a second setup's worker waits
// here and then removes and installs afresh over the first one's result.
bool RunInstallSteps(InstallRun& run) {
    const ScopedHeldMutex lock = AcquireInstallationLock();
    // Closed at the run's end, before the lock lets the next run in.
    const ServiceHold held;
    // What a run that died left aside protects until the new executables run.
    NoteEarlierRunDied();
    bool succeeded = true;
    for (const InstallStep step : kInstallSteps) {
        if (!step(run)) {
            // No rollback: what can run protects as well as the failed step allows.
            StartComponentsAfterFailure();
            succeeded = false;
            break;
        }
    }
    SettleExecutables();
    return succeeded;
}

}  // namespace

unsigned __stdcall InstallWorkerEntry(void*) {
    InstallRun run = {};
    const bool succeeded = RunInstallSteps(run);
    Sleep(kReportDelayMilliseconds);
    // Synchronous: the dialog has switched pages before the worker ends.
    const UINT result = succeeded ? kMessageInstallSucceeded : kMessageInstallFailed;
    g_installResultMessage = result;
    SendMessageW(g_wizardDialogWindow, result, 0, 0);
    return succeeded ? 1 : 0;
}
