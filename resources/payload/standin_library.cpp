// Stand-in for one of the product's libraries: one export that names the library.
#include <windows.h>

extern "C" __declspec(dllexport) const wchar_t* PvStandinLibraryName() {
    return PV_LIBRARY_NAME;
}
