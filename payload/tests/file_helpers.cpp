#include "payload/tests/file_helpers.h"

#include <windows.h>

#include <algorithm>

#include "platform/scoped_handle.h"

namespace {

std::wstring Variable(const wchar_t* name) {
    wchar_t value[32768];
    const DWORD length = GetEnvironmentVariableW(name, value, 32768);
    return length > 0 && length < 32768 ? std::wstring(value) : std::wstring();
}

}  // namespace

ScratchFolder::ScratchFolder() {
    static unsigned counter = 0;
    path_ = TemporaryFolder() + L"pv_payload_test_" + std::to_wstring(GetCurrentProcessId()) +
            L"_" + std::to_wstring(++counter);
    DeleteTree(path_);
    CreateDirectoryW(path_.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() {
    DeleteTree(path_);
}

TemporaryFolderSwitch::TemporaryFolderSwitch(const std::wstring& folder)
    : tmp_(Variable(L"TMP")), temp_(Variable(L"TEMP")) {
    SetEnvironmentVariableW(L"TMP", folder.c_str());
    SetEnvironmentVariableW(L"TEMP", folder.c_str());
}

TemporaryFolderSwitch::~TemporaryFolderSwitch() {
    SetEnvironmentVariableW(L"TMP", tmp_.empty() ? nullptr : tmp_.c_str());
    SetEnvironmentVariableW(L"TEMP", temp_.empty() ? nullptr : temp_.c_str());
}

std::thread HoldFileFor(const std::wstring& path, unsigned milliseconds, bool sharingDeletion) {
    const DWORD sharing = FILE_SHARE_READ | (sharingDeletion ? FILE_SHARE_DELETE : 0);
    ScopedFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, sharing, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return std::thread();
    }
    return std::thread([file = std::move(file), milliseconds]() mutable {
        Sleep(milliseconds);
        file.reset();
    });
}

bool WriteBytes(const std::wstring& path, const Bytes& bytes) {
    ScopedFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file &&
           WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) &&
           written == bytes.size();
}

Bytes ReadBytes(const std::wstring& path) {
    ScopedFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    Bytes bytes;
    unsigned char buffer[65536];
    DWORD bytesRead = 0;
    while (file && ReadFile(file.get(), buffer, sizeof(buffer), &bytesRead, nullptr) &&
           bytesRead > 0) {
        bytes.insert(bytes.end(), buffer, buffer + bytesRead);
    }
    return bytes;
}

bool FileExists(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<std::wstring> NamesIn(const std::wstring& folder, const wchar_t* pattern) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    ScopedFindHandle search(FindFirstFileW((folder + L"\\" + pattern).c_str(), &found));
    for (bool more = search.valid(); more; more = FindNextFileW(search.get(), &found)) {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

void DeleteTree(const std::wstring& folder) {
    for (const std::wstring& name : NamesIn(folder)) {
        const std::wstring path = folder + L"\\" + name;
        if (FolderExists(path)) {
            DeleteTree(path);
        } else {
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(path.c_str());
        }
    }
    RemoveDirectoryW(folder.c_str());
}

std::wstring TemporaryFolder() {
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    return length > 0 && length <= MAX_PATH ? std::wstring(folder) : std::wstring();
}
