// What a registration of a product service holds beyond its name: brought to
// exactly what a fresh registration would hold, and read back for a restart.
#pragma once

#include <windows.h>

#include "platform/text_format.h"

// Sets every setting CreateServiceW sets (own process, automatic start, normal
// error control, the command, no group, no dependencies, LocalSystem, the
// display name), and resets each optional one a fresh service lacks where the
// system reports it set. Needs SERVICE_CHANGE_CONFIG and SERVICE_QUERY_CONFIG.
// False with the last error set (ERROR_SERVICE_MARKED_FOR_DELETE, with nothing
// changed, for a service deleted by someone else).
bool ConfigureAsFresh(SC_HANDLE service, const wchar_t* displayName, const wchar_t* command);

// True when the service is deleted but still held by another program: a change
// of nothing is refused then (ERROR_SERVICE_MARKED_FOR_DELETE).
bool IsMarkedForDeletion(SC_HANDLE service);

// The file the registered command starts, as setup registers commands; false
// for another command. Needs SERVICE_QUERY_CONFIG.
bool RegisteredExecutablePath(SC_HANDLE service, wchar_t (&path)[kPathChars]);
