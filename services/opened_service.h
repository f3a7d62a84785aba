// What the service operations share: a connection and a service, the run's
// held ones or opened with just the rights a step uses, and the last error
// kept past their closing.
#pragma once

#include <windows.h>

#include <utility>

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

// A handle a step uses: the run's held one, which the step leaves open, or
// one the step opened and closes.
class StepHandle {
  public:
    StepHandle() = default;
    explicit StepHandle(SC_HANDLE held) : handle_(held) {}
    explicit StepHandle(ScopedServiceHandle own) : own_(std::move(own)), handle_(own_.get()) {}

    SC_HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    void reset() {
        own_.reset();
        handle_ = nullptr;
    }

  private:
    ScopedServiceHandle own_;
    SC_HANDLE handle_ = nullptr;
};

// A tightened access list may grant the rights a step uses and deny the rest.
struct OpenedService {
    StepHandle manager;
    StepHandle service;
};

// The held connection that has the access, or one opened now.
StepHandle OpenManager(DWORD access);

// The held service handle that has the access, or one opened now. The
// service is null, with the last error set, when either open fails.
OpenedService OpenNamedService(const wchar_t* serviceName, DWORD access);
