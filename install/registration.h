// Product registration: the product settings keys and the uninstall entry that
// lists the product among the system's installed programs.
#pragma once

#include <cstddef>

constexpr size_t kUninstallCommandChars = 1024;

// The maker's site, for the entry's help, about and update links.
constexpr const wchar_t* kMakerWebAddress = L"https://www.orbek.co.jp/";

// Creates Software\orbek\Portvane under HKEY_CURRENT_USER (with "Install" = 1)
// and under HKEY_LOCAL_MACHINE (empty). Failures are ignored.
void WriteProductSettingsKeys();

// Creates or opens the uninstall key and writes its eleven values; a value that
// cannot be written is skipped, except "DisplayName" and "UninstallString".
// False, with a log line and the OS message, when the key cannot be created or
// either of those two cannot be written.
bool WriteUninstallEntry(const wchar_t* uninstallerPath, const wchar_t* applicationPath,
                         unsigned copiedBytes);

// "<uninstaller>" "<uninstall key name>" "<display name>": each part quoted, so
// that blanks in the install folder never change the count of three arguments.
bool FormatUninstallCommand(wchar_t (&command)[kUninstallCommandChars],
                            const wchar_t* uninstallerPath, const wchar_t* displayName);
