// What a run holds of the service manager from before its first stop to its
// end: once a service has stopped, the manager may refuse new connections and
// opens (a policy, an access list tightened meanwhile), and a service that
// cannot be opened again cannot be started again.
#pragma once

#include <windows.h>

#include "platform/scoped_handle.h"

// Every right the run uses on a product service: stop, start, status, its
// registration, its dependents.
constexpr DWORD kProductServiceRights = SERVICE_STOP | SERVICE_START | SERVICE_QUERY_STATUS |
                                        SERVICE_QUERY_CONFIG | SERVICE_CHANGE_CONFIG |
                                        SERVICE_ENUMERATE_DEPENDENTS;

// What the run does to another program's service that depends on one.
constexpr DWORD kDependentServiceRights = SERVICE_STOP | SERVICE_START | SERVICE_QUERY_STATUS;

// The run's hold, in the worker's scope: while it lives, what is held stays
// open and the service operations use it instead of opening their own. Without
// one (a single operation called alone) each operation opens and closes its own.
class ServiceHold {
  public:
    ServiceHold();
    ~ServiceHold();
    ServiceHold(const ServiceHold&) = delete;
    ServiceHold& operator=(const ServiceHold&) = delete;
};

// True at the first call under a hold: the caller then holds what the run needs.
bool BeginServiceHold();

// A connection with access held (opened now unless one is); false, with the
// last error, when it cannot be opened or no hold is in scope.
bool HoldConnection(DWORD access);

// The service opened with access through the held connection and held;
// false, with the last error, when it cannot be.
bool HoldService(const wchar_t* serviceName, DWORD access);

// A handle the run made itself (a service registered afresh) held from now on;
// closed at once without a hold.
void KeepService(const wchar_t* serviceName, DWORD access, ScopedServiceHandle service);

// A held handle keeps a deleted service marked for deletion: closed before
// the name is registered again.
void CloseHeldService(const wchar_t* serviceName);

// The held connection or service handle that has the access; null when none.
SC_HANDLE HeldConnection(DWORD access);
SC_HANDLE HeldService(const wchar_t* serviceName, DWORD access);
