// Registering a product service and reading its registration back: created,
// brought to exactly what a fresh registration holds, or replaced.
#pragma once

#include <windows.h>

#include "platform/text_format.h"

// 300 checks of 100 ms: how long another program may keep a deleted service's name.
constexpr int kMarkedForDeletePollLimit = 300;

// Registers an automatically started own-process service running as LocalSystem,
// display name = service name, the executable path in double quotes. An
// existing registration is brought to exactly that, so that an upgrade never
// depends on a deletion; only one deleted by someone else, or one that refuses
// the essential change, is (deleted and) waited for within the bound and
// registered afresh. Only a name the manager does not know is created at once.
// The run's handle to a service replaced so is closed first (it would keep it
// marked for deletion); the new registration's is held in its place.
bool InstallService(const wchar_t* serviceName, const wchar_t* executablePath);

// Points the registration's command at executablePath and changes nothing
// else, flushed to the disk before it returns. True too when the service is
// not registered or already deleted: then no command of it can start.
bool PointServiceAt(const wchar_t* serviceName, const wchar_t* executablePath);

// Waits, up to pollLimit checks 100 ms apart, while the service is deleted but
// held by another program; false (ERROR_SERVICE_MARKED_FOR_DELETE) when it
// still is. A name that is not registered, or cannot be asked about, is free.
bool WaitWhileMarkedForDeletion(const wchar_t* serviceName,
                                int pollLimit = kMarkedForDeletePollLimit);

// Sets every setting CreateServiceW sets (own process, automatic start, normal
// error control, the command, no group, no dependencies, LocalSystem, the
// display name), and resets each optional one a fresh service lacks where the
// system reports it set. Needs SERVICE_CHANGE_CONFIG and SERVICE_QUERY_CONFIG.
// False with the last error set when the essential change is refused or the
// service turns out deleted (ERROR_SERVICE_MARKED_FOR_DELETE); an optional
// setting that is refused otherwise is left as it is.
bool ConfigureAsFresh(SC_HANDLE service, const wchar_t* displayName, const wchar_t* command);

// True when the service is deleted but still held by another program: a change
// of nothing is refused then (ERROR_SERVICE_MARKED_FOR_DELETE).
bool IsMarkedForDeletion(SC_HANDLE service);

// The file the service's registered command starts; false when it is not
// registered or its command is not one setup registers.
bool RegisteredExecutable(const wchar_t* serviceName, wchar_t (&path)[kPathChars]);

// Whether the service is registered and the file its command starts exists.
bool IsStartable(const wchar_t* serviceName);

// True when the question could be asked; *registered then holds the answer.
bool IsServiceRegistered(const wchar_t* serviceName, bool* registered);

// Deleted or marked for deletion: a fresh registration must take its place.
bool IsGoneError(DWORD error);
