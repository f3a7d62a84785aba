// The install worker: the whole installation on a thread of its own, reported
// to the wizard dialog by exactly one result message.
#pragma once

#include <cstddef>

#include "platform/text_format.h"

// What the worker keeps while it runs.
struct InstallRun {
    unsigned copiedBytes;                 // sizes of the copied sources, added up
    wchar_t uninstallerPath[kPathChars];  // the last module copied
    wchar_t applicationPath[kPathChars];  // the first module, in the install folder
};

// The steps, in the order of the sequence. Each logs its own failure lines and
// returns false; the sequence ends at the first one that fails.
// The first also checks, before it removes anything, that the ten files fit
// and that no product service is deleted but still held by another program,
// and makes the install folders before an earlier installation's services stop.
// After a failure the worker starts the product services that can run.
bool RemoveEarlierInstallation();
bool CreateInstallFolders();
bool CopyPayloadModules(InstallRun& run);
bool InstallProductServices();
bool CreateProductShortcuts(InstallRun& run);
bool RegisterProduct(const InstallRun& run);

// The same steps as one table, which the worker runs and the benchmark times.
// Nothing done before a failure is undone.
using InstallStep = bool (*)(InstallRun& run);
constexpr size_t kInstallStepCount = 6;
extern const InstallStep kInstallSteps[];

// Thread procedure started by the wizard with _beginthreadex; the argument is
// ignored. Runs the sequence, waits a second and sends WM_APP + 1 (success) or
// WM_APP + 2 (failure) to the wizard dialog; returns 1 or 0.
unsigned __stdcall InstallWorkerEntry(void* unused);
