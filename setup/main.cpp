// Entry of Portvane_Setup.exe.
#include <windows.h>

#include "platform/system_library.h"
#include "setup/startup.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    RestrictDllSearchToSystem32();
    return RunSetup(instance);
}
