#include "wizard/install_start.h"

#include <windows.h>
#include <process.h>

#include "platform/scoped_handle.h"
#include "setup/install_log.h"

bool StartInstallThread(ThreadEntry entry) {
    ScopedKernelHandle thread(
        reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, entry, nullptr, 0, nullptr)));
    if (!thread) {
        AppendLogLine(L"インストール処理を開始できません。");
        AppendOsMessage();
        return false;
    }
    return true;
}
