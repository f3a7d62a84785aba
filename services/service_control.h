// Single operations on one Windows service through the local service control
// manager. Each uses the run's held handles, or opens its own and closes them
// before it returns; on failure the thread's last error is the failing call's.
#pragma once

#include <cstddef>

#include "platform/file_in_use.h"
#include "platform/text_format.h"

// 60 polls of 500 ms: a service whose state has not moved for 30 s, nor for
// as long as its own wait hint asks, is stuck.
constexpr int kStopPollLimit = 60;

// However steadily a pending service moves, five minutes end a whole stop (its
// dependents' and its process's included), and five more a whole start.
constexpr DWORD kServiceWaitCapMs = 5 * 60 * 1000;

// Starts the service, or continues it when paused, and waits while it
// starts; true once it runs. One still stopping (or pausing) is first waited
// for as a stop is. False, with the code it stopped with (or
// ERROR_SERVICE_NOT_ACTIVE), when it does not run after all. A status that
// cannot be read does not keep the start from being sent; only its refusal
// then fails.
bool StartProductService(const wchar_t* serviceName, int pollLimit = kStopPollLimit);

// Sends the stop request and polls every 500 ms until the service is stopped,
// for as long as its state or check point moves, then waits up to the bound
// again for its process to end, when it has one of its own; false
// (ERROR_SERVICE_REQUEST_TIMEOUT) when neither moved for the longer of
// pollLimit polls and the service's wait hint, once the budget (shared with
// the stops of its dependents) is spent, or when the process outlives the
// bound. A service that is already stopped counts as stopped, one already
// stopping is waited for, one still starting, pausing or continuing is first
// waited for (the same bound) until it arrives; a paused one is stopped as a
// running one; a request refused otherwise fails.
bool StopProductService(const wchar_t* serviceName,
                        const RetryBudget& budget = RetryBudget(kServiceWaitCapMs),
                        int pollLimit = kStopPollLimit);

// Whether the service may be running: in any state but stopped, or registered
// but its state cannot be read. False when it is not registered.
bool MayBeRunning(const wchar_t* serviceName);

// Up to capacity names of the services that run and depend on the service,
// directly or not, in the order in which they are to be stopped; the count.
size_t ActiveDependentServices(const wchar_t* serviceName, wchar_t (*names)[kNameChars],
                               size_t capacity);
