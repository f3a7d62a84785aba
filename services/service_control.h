// Single operations on one Windows service through the local service control
// manager. Each opens its own connection and closes every handle before it
// returns; on failure the thread's last error is the failing call's.
#pragma once

#include <cstddef>

#include "platform/text_format.h"

// 60 polls of 500 ms: a service that is not stopped after 30 s counts as not stopping.
constexpr int kStopPollLimit = 60;

// 300 checks of 100 ms: how long another program may keep a deleted service's name.
constexpr int kMarkedForDeletePollLimit = 300;

// Registers an automatically started own-process service running as LocalSystem,
// display name = service name, the executable path in double quotes. An
// existing registration is brought to exactly that, so that an upgrade never
// depends on a deletion.
bool InstallService(const wchar_t* serviceName, const wchar_t* executablePath);

// Waits, up to pollLimit checks 100 ms apart, while the service is deleted but
// held by another program; false (ERROR_SERVICE_MARKED_FOR_DELETE) when it
// still is. A name that is not registered, or cannot be asked about, is free.
bool WaitWhileMarkedForDeletion(const wchar_t* serviceName,
                                int pollLimit = kMarkedForDeletePollLimit);

// Asks the manager to start the service; does not wait until it runs. One
// that already runs counts as started.
bool StartProductService(const wchar_t* serviceName);

// Sends the stop request and polls every 500 ms until the service is stopped,
// then waits up to as long again for its process to end; false
// (ERROR_SERVICE_REQUEST_TIMEOUT) when either bound runs out. A service that is
// already stopped counts as stopped, one already stopping is waited for, one
// still starting is first waited for (the same bound) until it runs or stops;
// a request refused otherwise fails.
bool StopProductService(const wchar_t* serviceName, int pollLimit = kStopPollLimit);

// Whether the service may be running: in any state but stopped, or registered
// but its state cannot be read. False when it is not registered.
bool MayBeRunning(const wchar_t* serviceName);

// Whether the service is registered and the file its command starts exists.
bool IsStartable(const wchar_t* serviceName);

// Up to capacity names of the services that run and depend on the service,
// directly or not, in the order in which they are to be stopped; the count.
size_t ActiveDependentServices(const wchar_t* serviceName, wchar_t (*names)[kNameChars],
                               size_t capacity);

// True when the question could be asked; *registered then holds the answer.
bool IsServiceRegistered(const wchar_t* serviceName, bool* registered);
