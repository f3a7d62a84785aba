// Walks the wizard of the real setup through a full installation, as a user
// would, saving a screenshot of each page; run by the run command without a display.
#include <cstdio>

#include "setup/resource_ids.h"
#include "testbed/driver.h"

namespace {

constexpr DWORD kPageTimeoutMs = 60000;

bool Step(bool done, const char* what) {
    std::printf("%s %s\n", done ? "ok  " : "FAIL", what);
    std::fflush(stdout);
    return done;
}

bool WaitForText(HWND dialog, int id, const wchar_t* text) {
    return WaitUntil([&] { return ControlText(dialog, id) == text; }, kPageTimeoutMs);
}

}  // namespace

int wmain() {
    SetupProcess setup = LaunchSetup();
    HWND wizard = WaitForDialog(setup.processId, L"Portvane Ver.1.0.0", kPageTimeoutMs);
    if (!Step(wizard != nullptr, "the wizard opens on the welcome page")) {
        KillIfRunning(setup);
        return 1;
    }
    SaveScreenshot(wizard, L"page-1-welcome");

    bool ok = Step(Click(wizard, IDC_NEXT) && WaitForText(wizard, IDC_PAGE_TITLE, L"ライセンス条項"),
                   "Next shows the licence page");
    SaveScreenshot(wizard, L"page-2-license");
    ok = ok && Step(Click(wizard, IDC_AGREE) &&
                        WaitUntil([&] { return IsControlEnabled(wizard, IDC_NEXT); }, 5000),
                    "agreeing enables Next");
    ok = ok && Step(Click(wizard, IDC_NEXT) &&
                        WaitForText(wizard, IDC_PAGE_TITLE, L"インストールの確認"),
                    "Next shows the confirmation page");
    SaveScreenshot(wizard, L"page-3-confirm");
    ok = ok && Step(Click(wizard, IDC_NEXT) &&
                        WaitForText(wizard, IDC_PAGE_MESSAGE, L"しばらくお待ちください..."),
                    "Next starts the installation");
    SaveScreenshot(wizard, L"page-4-progress");
    ok = ok && Step(WaitForText(wizard, IDC_PAGE_TITLE, L"インストールが完了しました。"),
                    "the installation completes");
    SaveScreenshot(wizard, L"page-5-done");
    if (ok) {
        SendMessageW(GetDlgItem(wizard, IDC_LAUNCH_CHECK), BM_SETCHECK, BST_UNCHECKED, 0);
        ok = Step(Click(wizard, IDC_NEXT) && WaitForExit(setup, kPageTimeoutMs) == 0,
                  "Close ends the setup with exit code 0");
    }
    KillIfRunning(setup);
    return ok ? 0 : 1;
}
