// The product's settings key under one registry root. The one object of the
// program with state: it owns at most one open key and closes it on every path.
#pragma once

#include <windows.h>

#include "platform/scoped_handle.h"

class RegistryKey {
  public:
    RegistryKey() = default;
    ~RegistryKey() { Release(); }

    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    // Makes the object ready for a new use; a key still held is closed first.
    void Initialise() { Close(); }

    // Creates, or opens when it exists, Software\orbek\Portvane under root with
    // full access, closing any key held before. No registry-view flag: a 32-bit
    // process works in the 32-bit view of HKEY_LOCAL_MACHINE\Software.
    bool CreateProductKey(HKEY root);
    bool CreateUserProductKey() { return CreateProductKey(HKEY_CURRENT_USER); }

    // Sets "Install" = 1 (REG_DWORD) on the open key, whatever type it had.
    bool SetInstallMark();

    // Always succeeds; does nothing without an open key.
    bool Close();

    void Release() { Close(); }

    bool IsOpen() const { return key_.valid(); }
    HKEY Key() const { return key_.get(); }

  private:
    ScopedRegistryKey key_;
};
