// Single operations on one Windows service through the local service control
// manager. Each opens its own connection and closes every handle before it
// returns; on failure the thread's last error is the failing call's.
#pragma once

#include <cstddef>

#include "platform/text_format.h"

// 60 polls of 500 ms: a service that is not stopped after 30 s counts as not stopping.
constexpr int kStopPollLimit = 60;

// 30 checks of 100 ms: how long a deleted service may keep its name after a stop.
constexpr int kRemovalPollLimit = 30;
// 300 checks of 100 ms: how long another program may keep a deleted service's name.
constexpr int kMarkedForDeletePollLimit = 300;

// Registers an automatically started own-process service running as LocalSystem,
// display name = service name. The executable path is registered in double quotes.
// Fails when the name is already registered; an existing service is never changed.
// A name still held by a deleted service is waited for (markedPollLimit checks)
// and then tried once more.
bool InstallService(const wchar_t* serviceName, const wchar_t* executablePath,
                    int markedPollLimit = kMarkedForDeletePollLimit);

// Asks the manager to start the service; does not wait until it runs.
bool StartProductService(const wchar_t* serviceName);

// Sends the stop request and polls every 500 ms until the service is stopped,
// then waits up to as long again for its process to end; false
// (ERROR_SERVICE_REQUEST_TIMEOUT) when either bound runs out. A service that is
// already stopped counts as stopped, one already stopping is waited for, one
// still starting is first waited for (the same bound) until it runs or stops;
// a request refused otherwise fails.
bool StopProductService(const wchar_t* serviceName, int pollLimit = kStopPollLimit);

// Deletes the service, which the caller has stopped, and waits for the
// manager to forget the name either way.
bool DeleteProductService(const wchar_t* serviceName);

// Whether the service runs or is starting; false also when it cannot be asked.
bool IsServiceRunning(const wchar_t* serviceName);

// Up to pollLimit checks, 100 ms apart, until the manager no longer knows the name.
void WaitForServiceRemoval(const wchar_t* serviceName, int pollLimit = kRemovalPollLimit);

// Up to capacity names of the services that run and depend on the service,
// directly or not, in the order in which they are to be stopped; the count.
size_t ActiveDependentServices(const wchar_t* serviceName, wchar_t (*names)[kNameChars],
                               size_t capacity);

// True when the question could be asked; *registered then holds the answer.
bool IsServiceRegistered(const wchar_t* serviceName, bool* registered);
