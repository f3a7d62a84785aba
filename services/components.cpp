#include "services/components.h"

#include <windows.h>
// These need windows.h first.
#include <shlwapi.h>

#include <cwchar>

#include "platform/file_in_use.h"
#include "platform/scoped_handle.h"
#include "platform/text_format.h"
#include "services/component_table.h"
#include "services/run_journal.h"
#include "services/service_control.h"
#include "services/service_registration.h"
#include "services/uninstall_command.h"
#include "setup/install_log.h"
#include "setup/process_state.h"

static_assert(kPathChars == MAX_PATH, "PathCombineW writes MAX_PATH characters");

namespace {

// Other programs' services that depend on a product service: Windows refuses
// to stop a service while they run (1051). Stopped for the upgrade, in the
// order Windows gives, and started again in the reverse order.
DependentList g_stoppedDependents = {};

// Set once the removal has stopped the product's services: from then on a
// failure must give back every service that can run.
bool g_componentsStopped = false;

// One that will not stop is not logged: the product service's own stop then
// fails and says why.
void StopDependents(const wchar_t* serviceName, const RetryBudget& budget) {
    wchar_t names[kDependentCapacity][kNameChars];
    const size_t count = ActiveDependentServices(serviceName, names, kDependentCapacity);
    for (size_t index = 0; index < count; ++index) {
        // Listed before it stops, so that no end of this run can forget it;
        // one that did not stop after all is running when it is started.
        if (AddDependent(&g_stoppedDependents, names[index])) {
            WriteDependentJournal(g_stoppedDependents);
            StopProductService(names[index], budget);
        }
    }
}

// Set once the removal has moved the old files away: a folder it then removes
// may be made again by anyone, and must never hold a service's executable.
bool g_oldExecutablesGone = false;

// The private folder where the earlier service executables wait until the new
// ones run; empty when there is none.
wchar_t g_earlierExecutablesFolder[kPathChars] = L"";

// The registration names executable: as it stands, or brought to it.
bool EnsureRegisteredAt(const ComponentRow& row, const wchar_t* executable) {
    wchar_t registered[kPathChars];
    return (RegisteredExecutable(row.serviceName, registered) &&
            _wcsicmp(registered, executable) == 0) ||
           InstallService(row.serviceName, executable);
}

// The new executable in the install folder (copied from the staging folder
// when it is not there yet: the failure came before its copy) and the
// registration naming it. False, with the last error, when either fails.
bool PutNewExecutableInPlace(const ComponentRow& row) {
    wchar_t installed[kPathChars];
    wchar_t staged[kPathChars];
    if (!ComponentExecutablePath(g_installFolderPath, row.fileName, installed) ||
        !JoinPath(staged, g_stagingFolderPath, row.fileName)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    const bool inPlace = RetryWhileFileInUse([&] {
        return GetFileAttributesW(installed) != INVALID_FILE_ATTRIBUTES ||
               CopyFileW(staged, installed, TRUE) != FALSE || GetLastError() == ERROR_FILE_EXISTS;
    });
    return inPlace && EnsureRegisteredAt(row, installed);
}

// A new executable that can never be written (a scanner quarantining it as it
// lands) leaves the earlier one to protect, moved from the private folder into
// the install folder, where only administrators write.
bool PutEarlierExecutableInPlace(const ComponentRow& row) {
    wchar_t earlier[kPathChars];
    wchar_t installed[kPathChars];
    if (g_earlierExecutablesFolder[0] == L'\0' ||
        !JoinPath(earlier, g_earlierExecutablesFolder, row.fileName) ||
        !ComponentExecutablePath(g_installFolderPath, row.fileName, installed)) {
        return false;
    }
    const bool inPlace = RetryWhileFileInUse([&] {
        return MoveFileExW(earlier, installed, MOVEFILE_COPY_ALLOWED | MOVEFILE_REPLACE_EXISTING) !=
               FALSE;
    });
    return inPlace && EnsureRegisteredAt(row, installed);
}

void LogNotStarted(const wchar_t* serviceName) {
    AppendLogLine(L"%s を開始できません。", serviceName);
    AppendOsMessage();
}

bool StartLogged(const wchar_t* serviceName) {
    if (StartProductService(serviceName)) {
        return true;
    }
    LogNotStarted(serviceName);
    return false;
}

// A service an administrator deleted while it ran is gone once stopped: it is
// registered afresh where it ran from, which the removal has not touched yet.
void StartAsItRan(const wchar_t* serviceName, const wchar_t* ranFrom) {
    const bool started = StartProductService(serviceName) ||
                         (IsGoneError(GetLastError()) && ranFrom[0] != L'\0' &&
                          InstallService(serviceName, ranFrom) && StartProductService(serviceName));
    if (!started) {
        LogNotStarted(serviceName);
    }
}

// Every file in the folder (the earlier executables, and what a run that died
// renamed there but did not delete yet), the folder, and its parent when that
// is now empty, as the removal would have removed it.
void DeleteFolderAndParentNowOrAtRestart(const wchar_t* folder) {
    wchar_t pattern[kPathChars];
    WIN32_FIND_DATAW entry;
    ScopedFindHandle search(FormatText(pattern, L"%s\\*", folder) ? FindFirstFileW(pattern, &entry)
                                                                  : INVALID_HANDLE_VALUE);
    for (bool found = search.valid(); found; found = FindNextFileW(search.get(), &entry) != FALSE) {
        wchar_t path[kPathChars];
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
            JoinPath(path, folder, entry.cFileName) &&
            !RetryWhileFileInUse([&] { return DeleteFileW(path) != FALSE; })) {
            MoveFileExW(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        }
    }
    search.reset();
    wchar_t parent[kPathChars];
    if (!RemoveDirectoryW(folder)) {
        MoveFileExW(folder, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    } else if (ParentFolder(folder, parent) && IsRemovableFolder(parent)) {
        RemoveDirectoryW(parent);
    }
}

}  // namespace

bool ComponentExecutablePath(const wchar_t* folder, const wchar_t* fileName,
                             wchar_t (&path)[kPathChars]) {
    path[0] = L'\0';
    // An empty folder would register a path relative to wherever the service starts.
    const size_t folderLength = wcslen(folder);
    if (folderLength == 0 || folderLength + 1 + wcslen(fileName) >= kPathChars) {
        return false;
    }
    if (PathCombineW(path, folder, fileName) == nullptr) {
        path[0] = L'\0';
        return false;
    }
    return true;
}

bool InstallComponents() {
    for (const ComponentRow& row : kComponentTable) {
        if (!ComponentApplies(row)) {
            continue;
        }
        wchar_t executablePath[kPathChars];
        if (!ComponentExecutablePath(g_installFolderPath, row.fileName, executablePath)) {
            return false;
        }
        if (!InstallService(row.serviceName, executablePath)) {
            AppendLogLine(L"%s をインストールできません。", row.serviceName);
            AppendOsMessage();
            return false;
        }
        if (!StartLogged(row.serviceName)) {
            return false;
        }
    }
    return true;
}

bool StopComponents() {
    // What a run that died left listed stays listed: this run's names join them.
    ReadDependentJournal(&g_stoppedDependents);
    // Read before anything stops: a service whose state cannot be read may run.
    bool wasRunning[kComponentCount] = {};
    wchar_t ranFrom[kComponentCount][kPathChars] = {};
    size_t index = 0;
    for (const ComponentRow& row : kComponentTable) {
        wasRunning[index] = ComponentApplies(row) && MayBeRunning(row.serviceName);
        if (wasRunning[index] && !RegisteredExecutable(row.serviceName, ranFrom[index])) {
            ranFrom[index][0] = L'\0';
        }
        ++index;
    }
    for (const ComponentRow& row : kComponentTable) {
        if (!ComponentApplies(row)) {
            continue;
        }
        // One bound for the service, its dependents and its process.
        const RetryBudget budget(kServiceWaitCapMs);
        StopDependents(row.serviceName, budget);
        // A service that is not there has nothing to stop.
        if (StopProductService(row.serviceName, budget) ||
            GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
            continue;
        }
        AppendLogLine(L"%s を削除できません。", row.serviceName);
        AppendOsMessage();
        // The one that did not stop too: it may have stopped since, or half way.
        index = 0;
        for (const ComponentRow& started : kComponentTable) {
            if (wasRunning[index]) {
                StartAsItRan(started.serviceName, ranFrom[index]);
            }
            ++index;
        }
        StartStoppedDependents();
        return false;
    }
    g_componentsStopped = true;
    return true;
}

bool ComponentsFreeOfDeletion() {
    for (const ComponentRow& row : kComponentTable) {
        // One deleted while it runs goes once the removal has stopped it.
        if (ComponentApplies(row) && !MayBeRunning(row.serviceName) &&
            !WaitWhileMarkedForDeletion(row.serviceName)) {
            AppendLogLine(L"%s をインストールできません。", row.serviceName);
            AppendOsMessage();
            return false;
        }
    }
    return true;
}

void ForgetOldExecutables() {
    g_oldExecutablesGone = true;
}

void KeepEarlierExecutables(const wchar_t* asideFolder) {
    wcscpy_s(g_earlierExecutablesFolder, asideFolder);
    WriteAsideFolderJournal(asideFolder);
}

bool IsComponentExecutable(const wchar_t* fileName) {
    for (const ComponentRow& row : kComponentTable) {
        if (_wcsicmp(row.fileName, fileName) == 0) {
            return true;
        }
    }
    return false;
}

bool PointComponentsAt(const wchar_t* folder) {
    for (const ComponentRow& row : kComponentTable) {
        wchar_t executable[kPathChars];
        if (ComponentApplies(row) && (!ComponentExecutablePath(folder, row.fileName, executable) ||
                                      !PointServiceAt(row.serviceName, executable))) {
            return false;
        }
    }
    return true;
}

void DiscardEarlierExecutables() {
    if (g_earlierExecutablesFolder[0] == L'\0' &&
        !ReadAsideFolderJournal(g_earlierExecutablesFolder)) {
        return;
    }
    // Only a folder of setup's own making, whatever the journal says.
    const wchar_t* name = wcsrchr(g_earlierExecutablesFolder, L'\\');
    if (name != nullptr &&
        _wcsnicmp(name + 1, kAsideFolderPrefix, wcslen(kAsideFolderPrefix)) == 0) {
        DeleteFolderAndParentNowOrAtRestart(g_earlierExecutablesFolder);
    }
    WriteAsideFolderJournal(L"");
    g_earlierExecutablesFolder[0] = L'\0';
}

void StartComponentsAfterFailure() {
    if (!g_componentsStopped) {
        return;
    }
    for (const ComponentRow& row : kComponentTable) {
        if (!ComponentApplies(row)) {
            continue;
        }
        const bool startable = (!g_oldExecutablesGone && IsStartable(row.serviceName)) ||
                               PutNewExecutableInPlace(row) || PutEarlierExecutableInPlace(row);
        if (!startable) {
            LogNotStarted(row.serviceName);
            continue;
        }
        StartLogged(row.serviceName);
    }
    StartStoppedDependents();
}

void StartStoppedDependents() {
    ReadDependentJournal(&g_stoppedDependents);
    if (g_stoppedDependents.count == 0) {
        return;
    }
    // A start refused once (a busy service manager) is asked again after the
    // others; only the second refusal is logged.
    for (int pass = 0; pass < 2 && g_stoppedDependents.count > 0; ++pass) {
        DependentList notStarted = {};
        while (g_stoppedDependents.count > 0) {
            const wchar_t* name = g_stoppedDependents.names[--g_stoppedDependents.count];
            if (!(pass == 0 ? StartProductService(name) : StartLogged(name))) {
                AddDependent(&notStarted, name);
            }
        }
        g_stoppedDependents = notStarted;
    }
    WriteDependentJournal(g_stoppedDependents);
}

bool AnyComponentRegistered() {
    for (const ComponentRow& row : kComponentTable) {
        if (!ComponentApplies(row)) {
            continue;
        }
        bool registered = false;
        if (IsServiceRegistered(row.serviceName, &registered) && registered) {
            return true;
        }
    }
    return false;
}
