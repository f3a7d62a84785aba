// Walks of the component table: install, remove and look up the product's services.
#pragma once

#include "platform/text_format.h"

// Registers (or brings an existing registration to the installed configuration)
// and starts every applicable service in table order from the install folder;
// stops at the first failure, logging it. What was installed stays.
bool InstallComponents();

// Once a run, under its hold, before its first stop or its first registration:
// one connection to the service manager and a handle to each applicable
// service with every right the run needs, to each running service of another
// program that depends on one and to each an earlier run left listed; and a
// connection that may register services when one is missing or deleted. False,
// logged, when the connection, a registered product service or that second
// connection cannot be had: nothing has stopped then. A dependent that cannot
// be held is opened where it is stopped, as without a hold.
bool HoldComponentServices();

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

// Whether the file is the executable of one of the product's services.
bool IsComponentExecutable(const wchar_t* fileName);

// Points every applicable service's registration at its executable in folder,
// changing nothing else; false when one refuses. The caller puts them there
// whole first.
bool PointComponentsAt(const wchar_t* folder);

// At a run's start: a run that died and left the earlier executables listed
// may have left a service stopped; a failure of this run starts it too.
void NoteEarlierRunDied();

// Before the first stop: each applicable service's new executable written
// beside its final name in the install folder, flushed and checked whole.
// Logs the one that cannot be, naming its final path.
bool StageNewExecutables();

// Once the services stopped: each new executable renamed over its final name
// (written now when it was not staged). Logs the one that cannot be.
bool PlaceNewExecutables();

// The copy of a service's executable: whole and new in the install folder.
// False for a file that is not one, or with the last error set.
bool PutComponentExecutableInPlace(const wchar_t* fileName);

// At a run's end: the unplaced files go, and the earlier executables (this
// run's, or those a run that died left listed) once no service needs one,
// each running from its whole new executable in the install folder.
void SettleExecutables();

// After a failure that followed StopComponents: starts every applicable
// service, and the dependents. Until the old files left, a service whose
// registered file is in place starts as it was; otherwise (and from then on
// always) the new executable is put in the install folder from the staging
// folder where it is not there yet, or, when it cannot be, the earlier one is
// moved there, and the registration is pointed at it, or made afresh. A
// registered file counts only when it is the whole new one or no earlier copy
// of it waits aside. Logs each service that does not run. When nothing was
// stopped, starts only what a run that died left stopped.
void StartComponentsAfterFailure();

// Starts again, logging each failure, the dependent services StopComponents
// stopped, and those an earlier run stopped and left listed (it was ended half
// way); once the new services run, or after the stop failed. One that does not
// start stays listed for the next run; StopComponents keeps the listed names
// when it lists its own.
void StartStoppedDependents();

// True when the service manager knows at least one applicable service.
bool AnyComponentRegistered();

// Install folder + "\" + file name; false, and no path, when it would not fit.
bool ComponentExecutablePath(const wchar_t* folder, const wchar_t* fileName,
                             wchar_t (&path)[kPathChars]);
