// Walks of the component table: install, remove and look up the product's services.
#pragma once

#include "platform/text_format.h"

// Creates and starts every applicable service in table order from the install
// folder; stops at the first failure, logging it. What was installed stays.
bool InstallComponents();

// Stops every applicable service, and first the running services of other
// programs that depend on it; one that is not registered counts as stopped.
// When one cannot be stopped, logs it, starts again those it had stopped
// that were running, and returns false.
bool StopComponents();

// Deletes every applicable service, after StopComponents; logs each one that
// could not be deleted, a missing one too, and goes on.
void DeleteComponents();

// Starts again, logging each failure, the dependent services StopComponents
// stopped; once the new services run, or after the stop failed.
void StartStoppedDependents();

// True when the service manager knows at least one applicable service.
bool AnyComponentRegistered();

// Install folder + "\" + file name; false, and no path, when it would not fit.
bool ComponentExecutablePath(const wchar_t* folder, const wchar_t* fileName,
                             wchar_t (&path)[kPathChars]);
