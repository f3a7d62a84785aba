// Entry of Portvane_Setup.exe.
#include <windows.h>

#include "platform/link_guard.h"
#include "platform/system_library.h"
#include "setup/startup.h"
#include "wizard/startup_timing.h"

#include <cstdlib>

// An uncaught exception ends the program either way. libstdc++'s own handler
// first prints the exception's type to a console this GUI program does not
// have, and brings a demangler and printf into the exe (about 75 KiB);
// defined here, it is not linked.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
    std::abort();
}
}  // namespace __gnu_cxx

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    MarkProgramEntry();
    RestrictDllSearchToSystem32();
    EnforceRedirectionTrust();
    return RunSetup(instance);
}
