// A drive letter mapped to a scratch folder of the Wine prefix through Wine's
// mount manager, so that a drive root can be offered to the removal without
// risking a real one. The request layout is Wine's own extension of the mount
// manager's interface.
#pragma once

#include <string>

class ScratchDrive {
  public:
    // Maps the first free letter from P: to Y:; mapped() tells whether it worked.
    explicit ScratchDrive(const std::wstring& folder);
    ~ScratchDrive();
    ScratchDrive(const ScratchDrive&) = delete;
    ScratchDrive& operator=(const ScratchDrive&) = delete;

    bool mapped() const { return mapped_; }
    std::wstring root() const { return std::wstring(1, letter_) + L":\\"; }

  private:
    // A null target removes the letter again.
    bool Define(const char* target);

    wchar_t letter_ = 0;
    bool mapped_ = false;
};
