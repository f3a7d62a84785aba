// Files and folders for the Windows tests: a scratch folder of the test's own,
// whole-file reads and writes, folder listings and a temporary folder switch.
#pragma once

#include <string>
#include <thread>
#include <vector>

#include "payload/tests/test_data.h"

// A new folder under the temporary folder, deleted with its content at the end.
class ScratchFolder {
  public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

  private:
    std::wstring path_;
};

// Points TMP and TEMP (which GetTempPathW reads) at folder while it lives.
class TemporaryFolderSwitch {
  public:
    explicit TemporaryFolderSwitch(const std::wstring& folder);
    ~TemporaryFolderSwitch();
    TemporaryFolderSwitch(const TemporaryFolderSwitch&) = delete;
    TemporaryFolderSwitch& operator=(const TemporaryFolderSwitch&) = delete;

  private:
    std::wstring tmp_;
    std::wstring temp_;
};

// Holds path open as a scanner does, sharing reading but not deletion (or, as
// the indexer does, deletion too), and lets it go after milliseconds; not
// joinable when path cannot be opened.
std::thread HoldFileFor(const std::wstring& path, unsigned milliseconds,
                        bool sharingDeletion = false);

bool WriteBytes(const std::wstring& path, const Bytes& bytes);
Bytes ReadBytes(const std::wstring& path);
bool FileExists(const std::wstring& path);
bool FolderExists(const std::wstring& path);
// Names in folder that match pattern (for example L"*" or L"UAS*.tmp"), sorted.
std::vector<std::wstring> NamesIn(const std::wstring& folder, const wchar_t* pattern = L"*");
// Deletes folder and everything below it.
void DeleteTree(const std::wstring& folder);
std::wstring TemporaryFolder();
