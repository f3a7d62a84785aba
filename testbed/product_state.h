// Puts the test prefix back to "never installed": each scenario starts clean.
#pragma once

#include <string>

// Stops and deletes both product services, deletes the install folder tree,
// the uninstall entry (32-bit view), HKCU/HKLM Software\orbek\Portvane, both
// shortcuts and the ORBEK data folders. What a situation added is for its
// maker to remove (RemoveSituationAdditions): a situation is made over a
// product state, never the other way round.
void ResetProductState();

// Paths as the 32-bit setup sees them in this prefix; a data folder is the
// special folder's ORBEK\Portvane.
std::wstring SpecialFolder(int csidl);
std::wstring DataFolder(int csidl);
std::wstring ProgramFilesFolder();
std::wstring DefaultInstallFolder();
std::wstring StartMenuShortcutPath();
std::wstring DesktopShortcutPath();

// Deletes a folder and everything below it; missing is fine.
void DeleteTree(const std::wstring& folder);

// Stops (waiting up to a few seconds) and deletes a service; missing is fine.
void DeleteServiceIfPresent(const wchar_t* serviceName);
