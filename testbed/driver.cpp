#include "testbed/driver.h"

#include <algorithm>
#include <cstdlib>

namespace {

struct DialogSearch {
    DWORD processId;
    const std::wstring* caption;
    HWND except;
    HWND found;
};

bool IsDialogOf(HWND window, DWORD processId) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t className[32] = L"";
    GetClassNameW(window, className, 32);
    return owner == processId && IsWindowVisible(window) && wcscmp(className, L"#32770") == 0;
}

BOOL CALLBACK FindDialog(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<DialogSearch*>(context);
    if (window == search->except || !IsDialogOf(window, search->processId)) {
        return TRUE;
    }
    if (search->caption != nullptr && !search->caption->empty() &&
        WindowText(window) != *search->caption) {
        return TRUE;
    }
    search->found = window;
    return FALSE;
}

HWND FindTopDialog(DWORD processId, const std::wstring* caption, HWND except) {
    DialogSearch search{processId, caption, except, nullptr};
    EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// A message box carries its text in a static control with id 0xFFFF.
bool IsMessageBox(HWND window) { return GetDlgItem(window, 0xFFFF) != nullptr; }

}  // namespace

std::wstring BuildPath(const std::wstring& relative) {
    const wchar_t* buildDir = _wgetenv(L"PORTVANE_BUILD_DIR");
    std::wstring base = buildDir != nullptr ? buildDir : L".";
    // The build tree is a Unix path: Wine maps it through drive Z:.
    if (!base.empty() && base[0] == L'/') {
        std::replace(base.begin(), base.end(), L'/', L'\\');
        base = L"Z:" + base;
    }
    return base + L"\\" + relative;
}

SetupProcess LaunchProgram(const std::wstring& exePath, const std::wstring& arguments) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    std::wstring commandLine = L"\"" + exePath + L"\" " + arguments;
    SetupProcess launched;
    if (CreateProcessW(exePath.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                       nullptr, &startup, &info)) {
        CloseHandle(info.hThread);
        launched.process.reset(info.hProcess);
        launched.processId = info.dwProcessId;
    }
    return launched;
}

SetupProcess LaunchSetup() { return LaunchProgram(BuildPath(L"Portvane_Setup.exe")); }

void SetLogPixels(DWORD dpi) {
    RegSetKeyValueW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"LogPixels", REG_DWORD, &dpi,
                    sizeof(dpi));
}

DWORD WaitForExit(const SetupProcess& setup, DWORD timeoutMs) {
    if (!setup.process || WaitForSingleObject(setup.process.get(), timeoutMs) != WAIT_OBJECT_0) {
        return STILL_ACTIVE;
    }
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(setup.process.get(), &code);
    return code;
}

void KillIfRunning(const SetupProcess& setup) {
    if (WaitForExit(setup, 0) == STILL_ACTIVE && setup.process) {
        TerminateProcess(setup.process.get(), 99);
        WaitForSingleObject(setup.process.get(), 5000);
    }
}

HWND WaitForDialog(DWORD processId, const std::wstring& caption, DWORD timeoutMs) {
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindTopDialog(processId, &caption, nullptr)) != nullptr; },
              timeoutMs);
    return found;
}

MessageBoxInfo WaitForMessageBox(DWORD processId, DWORD timeoutMs, HWND except) {
    MessageBoxInfo box;
    WaitUntil(
        [&] {
            HWND window = FindTopDialog(processId, nullptr, except);
            if (window == nullptr || !IsMessageBox(window)) {
                return false;
            }
            box.window = window;
            return true;
        },
        timeoutMs);
    if (box.window != nullptr) {
        box.owner = GetWindow(box.window, GW_OWNER);
        box.caption = WindowText(box.window);
        box.text = ControlText(box.window, 0xFFFF);
        // The icon static is 0x14 on Windows and stc1 (0x440) in Wine; Wine keeps it
        // visible but empty when the box has no icon.
        for (int iconId : {0x14, 0x440}) {
            HWND icon = GetDlgItem(box.window, iconId);
            box.hasIcon = box.hasIcon || (icon != nullptr && SendMessageW(icon, STM_GETICON, 0, 0));
        }
        box.topmost = (GetWindowLongW(box.window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    }
    return box;
}

void DismissMessageBox(const MessageBoxInfo& box) {
    for (int id : {IDOK, IDCANCEL, IDYES}) {
        if (GetDlgItem(box.window, id) != nullptr) {
            PostMessageW(box.window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(box.window, id)));
            return;
        }
    }
}

std::wstring WindowText(HWND window) {
    const int length = static_cast<int>(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0));
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const LRESULT got =
        SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(static_cast<size_t>(got));
    return text;
}

std::wstring ControlText(HWND dialog, int id) { return WindowText(GetDlgItem(dialog, id)); }

bool IsControlEnabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)); }

bool IsControlVisible(HWND dialog, int id) {
    return (GetWindowLongW(GetDlgItem(dialog, id), GWL_STYLE) & WS_VISIBLE) != 0;
}

LRESULT CheckState(HWND dialog, int id) {
    return SendMessageW(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0);
}

std::wstring ClipboardText(SIZE_T* bytes) {
    if (!OpenClipboard(nullptr)) {
        return L"<clipboard not opened>";
    }
    std::wstring text;
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    if (bytes != nullptr) {
        *bytes = data != nullptr ? GlobalSize(data) : 0;
    }
    if (const auto* chars =
            data != nullptr ? static_cast<const wchar_t*>(GlobalLock(data)) : nullptr) {
        text = chars;
        GlobalUnlock(data);
    }
    CloseClipboard();
    return text;
}

bool Click(HWND dialog, int id) {
    HWND button = GetDlgItem(dialog, id);
    if (button == nullptr || !IsWindowEnabled(button)) {
        return false;
    }
    return PostMessageW(button, BM_CLICK, 0, 0) != FALSE;
}

std::vector<std::wstring> ListFiles(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    ScopedFindHandle search(FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (search) {
        do {
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                names.push_back(entry.cFileName);
            }
        } while (FindNextFileW(search.get(), &entry));
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::wstring> TemporaryFolderEntries() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    ScopedFindHandle search(FindFirstFileW((std::wstring(temp) + L"*").c_str(), &entry));
    if (search) {
        do {
            names.push_back(entry.cFileName);
        } while (FindNextFileW(search.get(), &entry));
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::wstring> StagingFolders() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::vector<std::wstring> folders;
    WIN32_FIND_DATAW entry;
    ScopedFindHandle search(FindFirstFileW((std::wstring(temp) + L"uas*.tmp").c_str(), &entry));
    if (search) {
        do {
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                folders.push_back(std::wstring(temp) + entry.cFileName);
            }
        } while (FindNextFileW(search.get(), &entry));
    }
    return folders;
}

bool PathExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

long long FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return -1;
    }
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string FileBytes(const std::wstring& path) {
    std::string bytes;
    ScopedFileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
    char chunk[65536];
    DWORD read = 0;
    while (file && ReadFile(file.get(), chunk, sizeof(chunk), &read, nullptr) && read > 0) {
        bytes.append(chunk, read);
    }
    return bytes;
}
