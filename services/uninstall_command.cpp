#include "services/uninstall_command.h"

#include <windows.h>
// These need windows.h first.
#include <shellapi.h>

#include <cstdlib>
#include <cwchar>

#include "platform/scoped_handle.h"

namespace {

constexpr size_t kDriveChars = 3;
constexpr size_t kSplitPartChars = 256;

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// _wsplitpath_s answers a part too long for its buffer as an invalid parameter,
// which the C runtime may treat by ending the process; such paths are refused here.
bool SplitsWithinBuffers(const wchar_t* path) {
    const size_t length = wcslen(path);
    const size_t directoryStart = length >= 2 && path[1] == L':' ? 2 : 0;
    size_t nameStart = directoryStart;
    for (size_t i = directoryStart; i < length; ++i) {
        if (IsSeparator(path[i])) {
            nameStart = i + 1;
        }
    }
    return nameStart - directoryStart < kSplitPartChars && length - nameStart < kSplitPartChars;
}

// Length of the element at text (up to the next separator or the end).
size_t ElementLength(const wchar_t* text) {
    size_t length = 0;
    while (text[length] != L'\0' && !IsSeparator(text[length])) {
        ++length;
    }
    return length;
}

// Windows drops trailing dots and blanks, so such an element names its parent or less.
bool IsRealElement(const wchar_t* element, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (element[i] != L'.' && element[i] != L' ') {
            return true;
        }
    }
    return false;
}

// The part of a full path after "X:\" or "\\server\share\"; nullptr for any other form.
const wchar_t* BelowRoot(const wchar_t* folder) {
    if (iswalpha(folder[0]) && folder[1] == L':' && IsSeparator(folder[2])) {
        return folder + 3;
    }
    if (!IsSeparator(folder[0]) || !IsSeparator(folder[1])) {
        return nullptr;
    }
    // \\?\ and \\.\ name devices and raw paths, never an installation.
    const wchar_t* part = folder + 2;
    if ((part[0] == L'?' || part[0] == L'.') && IsSeparator(part[1])) {
        return nullptr;
    }
    for (int element = 0; element < 2; ++element) {
        const size_t length = ElementLength(part);
        if (!IsRealElement(part, length) || !IsSeparator(part[length])) {
            return nullptr;
        }
        part += length + 1;
    }
    return part;
}

bool CopyName(wchar_t (&field)[kNameChars], const wchar_t* text) {
    return FormatText(field, L"%s", text);
}

}  // namespace

bool TerminateUninstallString(wchar_t (&text)[kUninstallStringChars], unsigned long dataBytes) {
    const size_t characters = dataBytes / sizeof(wchar_t);
    if (characters < kUninstallStringChars) {
        text[characters] = L'\0';
        return true;
    }
    return text[kUninstallStringChars - 1] == L'\0';
}

bool FolderOfPath(const wchar_t* path, wchar_t (&folder)[kPathChars]) {
    folder[0] = L'\0';
    if (!SplitsWithinBuffers(path)) {
        return false;
    }
    wchar_t drive[kDriveChars];
    wchar_t directory[kSplitPartChars];
    wchar_t name[kSplitPartChars];
    wchar_t extension[kSplitPartChars];
    if (_wsplitpath_s(path, drive, kDriveChars, directory, kSplitPartChars, name, kSplitPartChars,
                      extension, kSplitPartChars) != 0) {
        return false;
    }
    if (!FormatText(folder, L"%s%s", drive, directory)) {
        return false;
    }
    const size_t length = wcslen(folder);
    if (length > 0 && IsSeparator(folder[length - 1])) {
        folder[length - 1] = L'\0';
    }
    return true;
}

bool ParentFolder(const wchar_t* folder, wchar_t (&parent)[kPathChars]) {
    if (!FormatText(parent, L"%s", folder)) {
        return false;
    }
    wchar_t* lastSeparator = nullptr;
    for (wchar_t* c = parent; *c != L'\0'; ++c) {
        if (IsSeparator(*c)) {
            lastSeparator = c;
        }
    }
    if (lastSeparator == nullptr) {
        return false;
    }
    *lastSeparator = L'\0';
    return true;
}

bool IsRemovableFolder(const wchar_t* folder) {
    const wchar_t* element = BelowRoot(folder);
    if (element == nullptr || *element == L'\0') {
        return false;
    }
    for (;;) {
        const size_t length = ElementLength(element);
        if (!IsRealElement(element, length)) {
            return false;
        }
        if (element[length] == L'\0') {
            return true;
        }
        element += length + 1;
    }
}

bool ParseUninstallCommand(const wchar_t* commandLine, RemovalContext* context) {
    *context = RemovalContext{};
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(commandLine, &count);
    ScopedLocalMemory argumentMemory(arguments);
    if (arguments == nullptr || count != 3) {
        return false;
    }
    if (!FolderOfPath(arguments[0], context->oldInstallFolder) ||
        !IsRemovableFolder(context->oldInstallFolder)) {
        return false;
    }
    // The key name is deleted below the Uninstall key and the shortcut name is
    // joined to the shortcut folders: neither may lead anywhere else.
    const wchar_t* keyName = arguments[1];
    const wchar_t* shortcutName = arguments[2];
    if (*keyName == L'\0' || wcschr(keyName, L'\\') != nullptr ||
        wcspbrk(shortcutName, L"\\/") != nullptr) {
        return false;
    }
    return CopyName(context->uninstallKeyName, keyName) &&
           CopyName(context->shortcutName, shortcutName);
}
