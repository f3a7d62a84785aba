// Stand-in for the product's dm.exe: a console program that names itself and ends.
#include <stdio.h>

int wmain() {
    fputws(L"dm.exe: Portvane stand-in\n", stdout);
    return 0;
}
