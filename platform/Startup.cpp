// Start-up of Narvelox.exe, with no C runtime: Windows enters the program here, so nothing
// runs before Main, and the program neither splits its command line nor reads its environment.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "modMain.h"

// The entry point the link names. Windows hands it an argument the program has no use for;
// since it never returns, how that argument is passed doesn't matter.
extern "C" [[noreturn]] void NarveloxStart()
{
    Main();
    ExitProcess(0);
}
