// The user's shell as the install tests see it: a shortcut read back through the
// shell-link object, and the desktop folder moved for a while.
#pragma once

#include <windows.h>

#include <string>

struct ShortcutTarget {
    bool loaded = false;
    std::wstring path;
    std::wstring arguments;
    std::wstring workingFolder;
};
ShortcutTarget ReadShortcut(const std::wstring& linkPath);

// Points the user's desktop folder elsewhere while it lives (Wine reads the
// "User Shell Folders" value on every query).
class DesktopFolderOverride {
  public:
    explicit DesktopFolderOverride(const std::wstring& folder);
    ~DesktopFolderOverride();
    DesktopFolderOverride(const DesktopFolderOverride&) = delete;
    DesktopFolderOverride& operator=(const DesktopFolderOverride&) = delete;

  private:
    std::wstring folder_;
    std::wstring earlier_;
    DWORD earlierType_ = REG_EXPAND_SZ;
};
