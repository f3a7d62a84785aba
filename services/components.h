// Walks of the component table: install, remove and look up the product's services.
#pragma once

#include "platform/text_format.h"

// Registers (or brings an existing registration to the installed configuration)
// and starts every applicable service in table order from the install folder;
// stops at the first failure, logging it. What was installed stays.
bool InstallComponents();

// Stops every applicable service, and first the running services of other
// programs that depend on it; one that is not registered counts as stopped.
// When one cannot be stopped, logs it, starts again every one that was running
// or whose state could not be read, the one that failed included, and the
// dependents it had stopped, and returns false. Registrations are kept.
bool StopComponents();

// Waits, within the bound, for a stopped product service deleted by someone
// else but still held by another program; logs the one still held and returns
// false. One that runs is left to the stop and the installation.
bool ComponentsFreeOfDeletion();

// Called once the old installation's files have left: from then on no
// service is started from where they were, which another program may fill.
void ForgetOldExecutables();

// After a failure that followed StopComponents: starts every applicable
// service, and the dependents. Until the old files left, a service whose
// registered file is in place starts as it was; otherwise (and from then on
// always) the new executable is put in the install folder from the staging
// folder where it is not there yet, and the registration is pointed at it, or
// made afresh. Logs each service that does not run. Does nothing when nothing
// was stopped.
void StartComponentsAfterFailure();

// Starts again, logging each failure, the dependent services StopComponents
// stopped, and those an earlier run stopped and left listed (it was ended half
// way); once the new services run, or after the stop failed. One that does not
// start stays listed for the next run.
void StartStoppedDependents();

// True when the service manager knows at least one applicable service.
bool AnyComponentRegistered();

// Install folder + "\" + file name; false, and no path, when it would not fit.
bool ComponentExecutablePath(const wchar_t* folder, const wchar_t* fileName,
                             wchar_t (&path)[kPathChars]);
