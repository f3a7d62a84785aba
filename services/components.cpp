#include "services/components.h"

#include <windows.h>
// These need windows.h first.
#include <shlwapi.h>

#include <cwchar>

#include "platform/file_in_use.h"
#include "platform/scoped_handle.h"
#include "platform/text_format.h"
#include "services/component_table.h"
#include "services/earlier_executables.h"
#include "services/executable_placement.h"
#include "services/run_journal.h"
#include "services/service_control.h"
#include "services/service_hold.h"
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

// Set when a run that died left the earlier executables listed: it may have
// left a service stopped, which a failure of this run starts too.
bool g_earlierRunDied = false;

// The registration names executable: as it stands, or brought to it.
bool EnsureRegisteredAt(const ComponentRow& row, const wchar_t* executable) {
    wchar_t registered[kPathChars];
    return (RegisteredExecutable(row.serviceName, registered) &&
            _wcsicmp(registered, executable) == 0) ||
           InstallService(row.serviceName, executable);
}

// The new executable whole in the install folder (put there now when the
// failure came before it was) and the registration naming it. False, with the
// last error, when either fails.
bool PutNewExecutableInPlace(const ComponentRow& row) {
    wchar_t installed[kPathChars];
    if (!ComponentExecutablePath(g_installFolderPath, row.fileName, installed)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    return PutWholeExecutableInPlace(g_installFolderPath, row.fileName) &&
           EnsureRegisteredAt(row, installed);
}

// A new executable that can never be written (a scanner quarantining it as it
// lands) leaves the earlier one to protect, copied from the private folder into
// the install folder, where only administrators write, with its security.
bool PutEarlierExecutableInPlace(const ComponentRow& row) {
    wchar_t installed[kPathChars];
    return ComponentExecutablePath(g_installFolderPath, row.fileName, installed) &&
           PutEarlierExecutableIn(row.fileName, g_installFolderPath) &&
           EnsureRegisteredAt(row, installed);
}

// The registered file starts as it is, unless it is the one setup writes in
// the install folder, an earlier copy of it waits aside and it is not the
// whole new one: a run that died may have torn it. A file anywhere else setup
// never writes, whatever waits aside under its name.
bool IsStartableAsRegistered(const ComponentRow& row) {
    wchar_t registered[kPathChars];
    wchar_t installed[kPathChars];
    return IsStartable(row.serviceName) && RegisteredExecutable(row.serviceName, registered) &&
           (!ComponentExecutablePath(g_installFolderPath, row.fileName, installed) ||
            _wcsicmp(registered, installed) != 0 ||
            !EarlierExecutableWaits(row.fileName, registered) ||
            IsWholeNewExecutable(registered, row.fileName));
}

// Runs from its whole new executable in the install folder: its earlier one
// has served.
bool RunsFromWholeNewExecutable(const ComponentRow& row) {
    wchar_t registered[kPathChars];
    wchar_t installed[kPathChars];
    return MayBeRunning(row.serviceName) && RegisteredExecutable(row.serviceName, registered) &&
           ComponentExecutablePath(g_installFolderPath, row.fileName, installed) &&
           _wcsicmp(registered, installed) == 0 && IsWholeNewExecutable(installed, row.fileName);
}

// Names the final path, as a copy's failure does.
bool LogCopyFailure(const ComponentRow& row) {
    const DWORD error = GetLastError();
    wchar_t installed[kPathChars];
    if (ComponentExecutablePath(g_installFolderPath, row.fileName, installed)) {
        AppendLogLine(L"%s をコピーできません。", installed);
    } else {
        AppendLogLine(L"%s\\%s をコピーできません。", g_installFolderPath, row.fileName);
    }
    SetLastError(error);
    AppendOsMessage();
    return false;
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

// A refusal before the first stop names the service, as the installation's would.
bool RefuseHold(const wchar_t* serviceName) {
    AppendLogLine(L"%s をインストールできません。", serviceName);
    AppendOsMessage();
    return false;
}

// Held with the rights to stop and start them: those running now, in the
// order Windows gives, and those a run that died left stopped.
void HoldDependents() {
    DependentList dependents = {};
    ReadDependentJournal(&dependents);
    for (const ComponentRow& row : kComponentTable) {
        wchar_t names[kDependentCapacity][kNameChars];
        const size_t count =
            ComponentApplies(row) && HeldService(row.serviceName, kProductServiceRights) != nullptr
                ? ActiveDependentServices(row.serviceName, names, kDependentCapacity)
                : 0;
        for (size_t index = 0; index < count; ++index) {
            AddDependent(&dependents, names[index]);
        }
    }
    for (size_t index = 0; index < dependents.count; ++index) {
        HoldService(dependents.names[index], kDependentServiceRights);
    }
}

}  // namespace

bool HoldComponentServices() {
    if (!BeginServiceHold()) {
        return true;
    }
    // The first service that must be registered afresh: not there, or deleted
    // (a handle keeps it so until the run closes it).
    const wchar_t* fresh = nullptr;
    for (const ComponentRow& row : kComponentTable) {
        if (!ComponentApplies(row)) {
            continue;
        }
        if (!HoldConnection(SC_MANAGER_CONNECT)) {
            return RefuseHold(row.serviceName);
        }
        const bool held = HoldService(row.serviceName, kProductServiceRights);
        if (!held && GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST) {
            return RefuseHold(row.serviceName);
        }
        if (fresh == nullptr &&
            (!held || IsMarkedForDeletion(HeldService(row.serviceName, kProductServiceRights)))) {
            fresh = row.serviceName;
        }
    }
    HoldDependents();
    return fresh == nullptr || HoldConnection(SC_MANAGER_CREATE_SERVICE) || RefuseHold(fresh);
}

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
    // Without an earlier installation nothing has held the services yet.
    if (!HoldComponentServices()) {
        return false;
    }
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
        if (!ComponentApplies(row)) {
            continue;
        }
        const bool fits = ComponentExecutablePath(folder, row.fileName, executable);
        if (!fits) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
        }
        if (!fits || !PointServiceAt(row.serviceName, executable)) {
            AppendLogLine(L"%s をインストールできません。", row.serviceName);
            AppendOsMessage();
            return false;
        }
    }
    return true;
}

void NoteEarlierRunDied() {
    g_earlierRunDied = AdoptEarlierExecutables();
}

bool StageNewExecutables() {
    for (const ComponentRow& row : kComponentTable) {
        if (ComponentApplies(row) && !WriteUnplacedExecutable(g_installFolderPath, row.fileName)) {
            return LogCopyFailure(row);
        }
    }
    return true;
}

bool PlaceNewExecutables() {
    for (const ComponentRow& row : kComponentTable) {
        if (ComponentApplies(row) && !PlaceNewExecutable(g_installFolderPath, row.fileName)) {
            return LogCopyFailure(row);
        }
    }
    return true;
}

bool PutComponentExecutableInPlace(const wchar_t* fileName) {
    for (const ComponentRow& row : kComponentTable) {
        if (ComponentApplies(row) && _wcsicmp(row.fileName, fileName) == 0) {
            return PutWholeExecutableInPlace(g_installFolderPath, fileName);
        }
    }
    return false;
}

void SettleExecutables() {
    bool earlierNeeded = false;
    for (const ComponentRow& row : kComponentTable) {
        if (!ComponentApplies(row)) {
            continue;
        }
        if (g_installFolderPath[0] != L'\0') {
            DiscardUnplacedExecutable(g_installFolderPath, row.fileName);
        }
        wchar_t registered[kPathChars];
        earlierNeeded = earlierNeeded || (!RunsFromWholeNewExecutable(row) &&
                                          (!RegisteredExecutable(row.serviceName, registered) ||
                                           EarlierExecutableWaits(row.fileName, registered)));
    }
    if (!earlierNeeded) {
        DiscardEarlierExecutables();
    }
}

void StartComponentsAfterFailure() {
    if (!g_componentsStopped && !g_earlierRunDied) {
        return;
    }
    for (const ComponentRow& row : kComponentTable) {
        // Nothing stopped by this run: only what a run that died left stopped.
        if (!ComponentApplies(row) || (!g_componentsStopped && MayBeRunning(row.serviceName))) {
            continue;
        }
        const bool startable = (!g_oldExecutablesGone && IsStartableAsRegistered(row)) ||
                               PutNewExecutableInPlace(row) || PutEarlierExecutableInPlace(row);
        if (!startable) {
            LogNotStarted(row.serviceName);
            continue;
        }
        // Deleted while it ran, it stays while the run holds it: registered
        // afresh where it is registered now.
        wchar_t registered[kPathChars];
        if (!RegisteredExecutable(row.serviceName, registered)) {
            registered[0] = L'\0';
        }
        StartAsItRan(row.serviceName, registered);
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
