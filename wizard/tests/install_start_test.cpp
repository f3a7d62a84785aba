#include "wizard/install_start.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/scoped_handle.h"
#include "setup/install_log.h"

namespace {

HANDLE g_entered = nullptr;

unsigned __stdcall SignalEntry(void*) {
    SetEvent(g_entered);
    return 0;
}

// Reserves every free piece of the address space (nothing committed) until
// destroyed, so no thread stack can be reserved meanwhile.
class AddressSpaceExhausted {
  public:
    AddressSpaceExhausted() {
        for (SIZE_T size = SIZE_T{1} << 30; size >= 0x10000; size /= 2) {
            while (void* block = VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS)) {
                blocks_.push_back(block);
            }
        }
    }
    ~AddressSpaceExhausted() {
        for (void* block : blocks_) {
            VirtualFree(block, 0, MEM_RELEASE);
        }
    }

  private:
    std::vector<void*> blocks_;
};

}  // namespace

// The failure first: a thread of ours that is still ending while the address
// space is exhausted would take Wine's own thread exit down with it.
TEST(InstallStart, ThreadThatCannotStartIsLoggedWithTheReasonAndOneThatCanRunsTheEntry) {
    ScopedKernelHandle entered(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    g_entered = entered.get();
    const std::wstring logBefore = ReadLogText();
    bool started = true;
    {
        AddressSpaceExhausted exhausted;
        started = StartInstallThread(SignalEntry);
    }
    ASSERT_FALSE(started);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(entered.get(), 500));
    const std::wstring logged = ReadLogText();
    const std::wstring added = logged.substr(logBefore.size());
    EXPECT_EQ(0u, added.find(L"インストール処理を開始できません。\nOS Message:")) << added;
    EXPECT_EQ(L'\n', added.back());

    ASSERT_TRUE(StartInstallThread(SignalEntry));
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(entered.get(), 5000));
    EXPECT_EQ(logged, ReadLogText()) << "a thread that starts logs nothing";
}
