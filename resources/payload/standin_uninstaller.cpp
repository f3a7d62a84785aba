// Stand-in for the product's uninstaller. Started with arguments, as the uninstall
// entry starts it, it says what it is; started without arguments it just ends.
#include <windows.h>
#include <stdlib.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    if (__argc <= 1) {
        return 0;
    }
    MessageBoxW(nullptr,
                L"これは Portvane アンインストーラーの代替プログラムです。\n何も削除しません。",
                L"Portvane", MB_OK | MB_ICONINFORMATION);
    return 0;
}
