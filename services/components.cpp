#include "services/components.h"

#include <windows.h>
// These need windows.h first.
#include <shlwapi.h>

#include <cwchar>

#include "platform/text_format.h"
#include "services/component_table.h"
#include "services/service_control.h"
#include "setup/install_log.h"
#include "setup/process_state.h"

static_assert(kPathChars == MAX_PATH, "PathCombineW writes MAX_PATH characters");

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
        if (!StartProductService(row.serviceName)) {
            AppendLogLine(L"%s を開始できません。", row.serviceName);
            AppendOsMessage();
            return false;
        }
    }
    return true;
}

bool StopComponents() {
    const ComponentRow* running[kComponentCount] = {};
    size_t runningCount = 0;
    for (const ComponentRow& row : kComponentTable) {
        if (!ComponentApplies(row)) {
            continue;
        }
        const bool wasRunning = IsServiceRunning(row.serviceName);
        if (StopProductService(row.serviceName)) {
            if (wasRunning) {
                running[runningCount++] = &row;
            }
            continue;
        }
        // A service that is not there has nothing to stop.
        if (GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
            continue;
        }
        AppendLogLine(L"%s を削除できません。", row.serviceName);
        AppendOsMessage();
        // Nothing is deleted: the product protects as before.
        for (size_t index = 0; index < runningCount; ++index) {
            if (!StartProductService(running[index]->serviceName)) {
                AppendLogLine(L"%s を開始できません。", running[index]->serviceName);
                AppendOsMessage();
            }
        }
        return false;
    }
    return true;
}

void DeleteComponents() {
    for (const ComponentRow& row : kComponentTable) {
        if (ComponentApplies(row) && !DeleteProductService(row.serviceName)) {
            AppendLogLine(L"%s を削除できません。", row.serviceName);
            AppendOsMessage();
        }
    }
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
