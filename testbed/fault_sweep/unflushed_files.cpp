#include "testbed/fault_sweep/unflushed_files.h"

#include <algorithm>
#include <string>
#include <vector>

#include "platform/scoped_handle.h"

namespace {

// FileRenameInformation and FileLinkInformation (NtSetInformationFile).
constexpr uintptr_t kRenameClass = 10;
constexpr uintptr_t kLinkClass = 11;

// FILE_RENAME_INFORMATION and FILE_LINK_INFORMATION share this layout.
struct NamingInformation {
    BOOLEAN replaceIfExists;
    HANDLE rootDirectory;
    ULONG fileNameLength;
    WCHAR fileName[1];
};

struct UnflushedFile {
    uint64_t index;
    std::vector<std::wstring> names;
};

std::vector<UnflushedFile> g_files;
// The file a move or a naming through a handle acts on, taken just before it.
uint64_t g_source = 0;

uint64_t IndexOf(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION information = {};
    return GetFileInformationByHandle(file, &information)
               ? uint64_t{information.nFileIndexHigh} << 32 | information.nFileIndexLow
               : 0;
}

uint64_t IndexOf(const wchar_t* path) {
    ScopedFileHandle file(CreateFileW(path, FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file ? IndexOf(file.get()) : 0;
}

UnflushedFile* Find(uint64_t index) {
    const auto found = std::find_if(g_files.begin(), g_files.end(),
                                    [&](const UnflushedFile& file) { return file.index == index; });
    return index != 0 && found != g_files.end() ? &*found : nullptr;
}

void Forget(uint64_t index) {
    g_files.erase(std::remove_if(g_files.begin(), g_files.end(),
                                 [&](const UnflushedFile& file) { return file.index == index; }),
                  g_files.end());
}

void AddName(UnflushedFile* file, const std::wstring& name) {
    if (file != nullptr &&
        std::find(file->names.begin(), file->names.end(), name) == file->names.end()) {
        file->names.push_back(name);
    }
}

void Track(uint64_t index, const std::wstring& name) {
    if (index != 0 && Find(index) == nullptr) {
        g_files.push_back({index, {}});
    }
    AddName(Find(index), name);
}

std::wstring WithoutPrefix(std::wstring path) {
    for (const wchar_t* prefix : {L"\\??\\", L"\\\\?\\"}) {
        if (path.rfind(prefix, 0) == 0) {
            return path.substr(wcslen(prefix));
        }
    }
    return path;
}

// The name a rename or link through a handle gives: a bare name in the root
// folder the structure names, or a whole NT path.
std::wstring NameGiven(const NamingInformation& information) {
    const std::wstring name(information.fileName, information.fileNameLength / sizeof(WCHAR));
    if (information.rootDirectory == nullptr) {
        return WithoutPrefix(name);
    }
    wchar_t folder[MAX_PATH] = L"";
    GetFinalPathNameByHandleW(information.rootDirectory, folder, MAX_PATH, 0);
    return WithoutPrefix(folder) + L"\\" + name;
}

std::string Utf8(const std::wstring& text) {
    std::string out(text.size() * 3, '\0');
    out.resize(static_cast<size_t>(
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0],
                            static_cast<int>(out.size()), nullptr, nullptr)));
    return out;
}

}  // namespace

void BeforeMove(CallBits args) {
    g_source = IndexOf(reinterpret_cast<const wchar_t*>(args[0]));
}

void BeforeNaming(CallBits args) {
    g_source = IndexOf(reinterpret_cast<HANDLE>(args[0]));
}

void AfterCopy(CallBits args, uintptr_t result) {
    const auto* target = reinterpret_cast<const wchar_t*>(args[1]);
    if (result != FALSE) {
        Track(IndexOf(target), target);
    }
}

// A rename keeps the file and its state; a copy across volumes makes a new
// file (the source goes), unflushed unless written through. A delayed move
// changes nothing until the restart.
void AfterMove(CallBits args, uintptr_t result) {
    const auto* target = reinterpret_cast<const wchar_t*>(args[1]);
    const DWORD flags = static_cast<DWORD>(args[2]);
    if (result == FALSE || target == nullptr || (flags & MOVEFILE_DELAY_UNTIL_REBOOT) != 0) {
        return;
    }
    const uint64_t moved = IndexOf(target);
    if (moved == 0 || g_source == 0) {
        return;
    }
    if (moved == g_source) {
        AddName(Find(moved), target);
        return;
    }
    Forget(g_source);
    if ((flags & MOVEFILE_WRITE_THROUGH) == 0) {
        Track(moved, target);
    }
}

void AfterNaming(CallBits args, uintptr_t result) {
    const uintptr_t kind = args[4];
    if (static_cast<LONG>(result) >= 0 && (kind == kRenameClass || kind == kLinkClass)) {
        AddName(Find(g_source), NameGiven(*reinterpret_cast<const NamingInformation*>(args[2])));
    }
}

void AfterFlush(CallBits args, uintptr_t result) {
    if (result != FALSE) {
        Forget(IndexOf(reinterpret_cast<HANDLE>(args[0])));
    }
}

void WriteUnflushedFiles(const wchar_t* path) {
    ScopedFileHandle list(
        CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr));
    for (const UnflushedFile& file : g_files) {
        std::string line = std::to_string(file.index);
        for (const std::wstring& name : file.names) {
            line += "\t" + Utf8(name);
        }
        line += "\n";
        DWORD written = 0;
        WriteFile(list.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }
}
