// Start-up of Narvelox.exe: hands control to the launcher's logic once, then ends.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "modMain.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    Main();
    return 0;
}
