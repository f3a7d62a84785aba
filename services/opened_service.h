// What the service operations share: a connection and a service opened with
// just the rights a step uses, and the last error kept past their closing.
#pragma once

#include <windows.h>

#include "platform/scoped_handle.h"

// Closing the handles may overwrite the last error; the caller's OS message must
// describe the call that failed. Declared before the handles, so it is destroyed
// after them and restores the error the result was taken with.
class ResultError {
  public:
    ResultError() = default;
    ResultError(const ResultError&) = delete;
    ResultError& operator=(const ResultError&) = delete;
    ~ResultError() { SetLastError(error_); }

    bool Take(bool result) {
        error_ = GetLastError();
        return result;
    }

  private:
    DWORD error_ = ERROR_SUCCESS;
};

// A tightened access list may grant the rights a step uses and deny the rest.
struct OpenedService {
    ScopedServiceHandle manager;
    ScopedServiceHandle service;
};

ScopedServiceHandle OpenManager(DWORD access);

// The service is null, with the last error set, when either open fails.
OpenedService OpenNamedService(const wchar_t* serviceName, DWORD access,
                               DWORD managerAccess = SC_MANAGER_CONNECT);
