#include "install/installation_lock.h"

#include <windows.h>
#include <sddl.h>

namespace {

constexpr wchar_t kInstallationLockName[] = L"Global\\ORBEK_Portvane_Setup";

// Administrators and SYSTEM only: no standard user can open the lock, hold it
// and so stall every installation.
constexpr wchar_t kInstallationLockAccess[] = L"D:P(A;;GA;;;BA)(A;;GA;;;SY)";

}  // namespace

ScopedHeldMutex AcquireInstallationLock() {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            kInstallationLockAccess, SDDL_REVISION_1, &descriptor, nullptr)) {
        return ScopedHeldMutex();
    }
    const ScopedLocalMemory descriptorMemory(descriptor);
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
    ScopedKernelHandle mutex(CreateMutexW(&attributes, FALSE, kInstallationLockName));
    if (!mutex) {
        return ScopedHeldMutex();
    }
    // Abandoned by a setup that was ended while it installed: this run's own
    // removal clears what that one left.
    const DWORD waited = WaitForSingleObject(mutex.get(), INFINITE);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        return ScopedHeldMutex();
    }
    return ScopedHeldMutex(mutex.release());
}
