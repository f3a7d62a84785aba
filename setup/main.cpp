// Entry of Portvane_Setup.exe.
#include <windows.h>

#include "platform/link_guard.h"
#include "platform/system_library.h"
#include "setup/startup.h"
#include "wizard/startup_timing.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    MarkProgramEntry();
    RestrictDllSearchToSystem32();
    EnforceRedirectionTrust();
    return RunSetup(instance);
}
