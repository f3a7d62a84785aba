#include "services/service_hold.h"

#include <cwchar>
#include <utility>

#include "platform/text_format.h"
#include "services/component_table.h"
#include "services/run_journal.h"

namespace {

// A connection to connect, and one to register services where the run must.
constexpr size_t kConnectionCapacity = 2;
constexpr size_t kServiceCapacity = kComponentCount + kDependentCapacity;

struct HeldConnectionEntry {
    DWORD access;
    ScopedServiceHandle handle;
};

struct HeldServiceEntry {
    wchar_t name[kNameChars];
    DWORD access;
    ScopedServiceHandle handle;
};

// Only the worker thread holds; one hold at a time.
bool g_holding = false;
bool g_begun = false;
HeldConnectionEntry g_connections[kConnectionCapacity];
HeldServiceEntry g_services[kServiceCapacity];

bool Grants(DWORD held, DWORD access) {
    return (access & ~held) == 0;
}

HeldServiceEntry* FindService(const wchar_t* serviceName) {
    for (HeldServiceEntry& entry : g_services) {
        if (entry.handle && _wcsicmp(entry.name, serviceName) == 0) {
            return &entry;
        }
    }
    return nullptr;
}

HeldServiceEntry* FreeServiceEntry() {
    for (HeldServiceEntry& entry : g_services) {
        if (!entry.handle) {
            return &entry;
        }
    }
    return nullptr;
}

}  // namespace

ServiceHold::ServiceHold() {
    g_holding = true;
    g_begun = false;
}

ServiceHold::~ServiceHold() {
    for (HeldServiceEntry& entry : g_services) {
        entry.handle.reset();
    }
    for (HeldConnectionEntry& entry : g_connections) {
        entry.handle.reset();
    }
    g_holding = false;
}

bool BeginServiceHold() {
    const bool first = g_holding && !g_begun;
    g_begun = g_holding;
    return first;
}

bool HoldConnection(DWORD access) {
    if (HeldConnection(access) != nullptr) {
        return true;
    }
    for (HeldConnectionEntry& entry : g_connections) {
        if (g_holding && !entry.handle) {
            entry.handle.reset(OpenSCManagerW(nullptr, nullptr, access));
            entry.access = access;
            return entry.handle.valid();
        }
    }
    SetLastError(ERROR_INVALID_FUNCTION);
    return false;
}

bool HoldService(const wchar_t* serviceName, DWORD access) {
    const HeldServiceEntry* held = FindService(serviceName);
    if (held != nullptr && Grants(held->access, access)) {
        return true;
    }
    const SC_HANDLE connection = HeldConnection(SC_MANAGER_CONNECT);
    if (connection == nullptr) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return false;
    }
    ScopedServiceHandle service(OpenServiceW(connection, serviceName, access));
    if (!service) {
        return false;
    }
    KeepService(serviceName, access, std::move(service));
    if (FindService(serviceName) == nullptr) {
        SetLastError(ERROR_TOO_MANY_OPEN_FILES);
        return false;
    }
    return true;
}

void KeepService(const wchar_t* serviceName, DWORD access, ScopedServiceHandle service) {
    HeldServiceEntry* entry = FindService(serviceName);
    entry = entry != nullptr ? entry : FreeServiceEntry();
    if (g_holding && entry != nullptr && FormatText(entry->name, L"%s", serviceName)) {
        entry->access = access;
        entry->handle = std::move(service);
    }
}

void CloseHeldService(const wchar_t* serviceName) {
    HeldServiceEntry* entry = FindService(serviceName);
    if (entry != nullptr) {
        entry->handle.reset();
    }
}

SC_HANDLE HeldConnection(DWORD access) {
    for (const HeldConnectionEntry& entry : g_connections) {
        // Every connection may connect.
        if (entry.handle && Grants(entry.access | SC_MANAGER_CONNECT, access)) {
            return entry.handle.get();
        }
    }
    return nullptr;
}

SC_HANDLE HeldService(const wchar_t* serviceName, DWORD access) {
    const HeldServiceEntry* entry = FindService(serviceName);
    return entry != nullptr && Grants(entry->access, access) ? entry->handle.get() : nullptr;
}
