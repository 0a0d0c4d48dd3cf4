// standin.exe: a stand-in for the game FRAV.EXE, and the probes that test and show Narvelox.exe
// under Wine. Times are milliseconds since 1970 with three decimals, from one clock for every
// process (NowMs), so the game's log and a timeline of `run` line up.
//
//   standin.exe                   the stand-in game; copied as FRAV.EXE (see Game)
//   standin.exe clip              prints the cursor confinement: "LEFT TOP RIGHT BOTTOM"
//   standin.exe clip L T R B      confines the cursor to that rectangle
//   standin.exe box [dismiss]     waits up to 10 s for the launcher's message box, prints
//                                 "rect L T R B" and then its text; dismiss presses its OK
//   standin.exe hold              uses the desktop, prints "ready WxH", the screen's size, and
//                                 idles until ended
//   standin.exe control           makes the launcher's calls: starts FRAV.EXE, sleeps 10 s,
//                                 confines the cursor to the desktop and lifts the confinement
//                                 once the game has ended; the benchmark's control
//   standin.exe run EXE [TEXT]    starts EXE with the command line "EXE" TEXT (just "EXE" when
//                                 TEXT is left out), watches it and prints its timeline; with
//                                 STANDIN_TRACE set, under Wine's relay trace (Watch.h); with
//                                 STANDIN_WATCH_MS, ending it after that many milliseconds
//
// The timeline of `run`, one event a line, each line "TIME EVENT VALUES":
//   TIME start PID                just before CreateProcessW; PID of the started process
//   TIME created                  when Windows created that process (GetProcessTimes)
//   TIME clip L T R B             the confinement: first as it was at the start, then at each
//                                 change (polled every ~2 ms). With no confinement it reads
//                                 as the whole screen.
//   TIME end EXITCODE             the process has ended
// Changes in the 300 ms after the end are still listed. If EXE can't be started, `run`
// prints "TIME failed ERROR" (GetLastError) and returns 1.
//
// The game's log (appended to the file named by STANDIN_LOG), same line format:
//   TIME start PID                the very first thing the game does
//   TIME created                  when Windows created the game's process
//   TIME cmdline TEXT             its command line exactly (GetCommandLineW, in UTF-8)
//   TIME mode W H RESULT          STANDIN_MODE only: the screen's size after the switch, and
//                                 what ChangeDisplaySettingsW returned (0 done, -2 bad mode)
//   TIME clip L T R B             the confinement at its start, then at each change
//   TIME mode W H RESULT          the same after switching back, if the switch worked
//   TIME exit                     just before it ends
// It runs STANDIN_RUN_MS milliseconds from its start (default 15000). STANDIN_MODE="WxH" makes
// it switch the display to that mode 2 s after its start, as a full-screen game does once it has
// loaded, and confine the cursor to the centre half of its new screen; it switches back itself
// before the exit clip, so that the restored mode never races the launcher's lift.
// STANDIN_EXIT_CLIP="L,T,R,B" makes it confine the cursor to that rectangle just before it ends:
// logged as a clip line and held 20 ms before the exit line. Without STANDIN_LOG it logs nothing.
// It opens no window, so it never takes the foreground from anyone.
#include "Watch.h"

#include <cstdio>
#include <cwchar>
#include <fcntl.h>
#include <io.h>

namespace {

// How long the game loads before it switches the display. A launcher reads the screen within a
// few hundred milliseconds of its own start, so one that reads it before its delay sees the
// desktop, never the game's mode, however fast Wine starts the game.
constexpr DWORD kLoadingMs = 2000;

std::wstring Setting(const wchar_t* name)
{
    wchar_t value[512];
    const DWORD length = GetEnvironmentVariableW(name, value, 512);
    return length < 512 ? std::wstring(value, length) : std::wstring();
}

std::string Stamped(double ms, const std::string& what)
{
    char time[32];
    snprintf(time, sizeof time, "%.3f ", ms);
    return time + what;
}

// Switches the display to mode, or back with nullptr. Wine confines the cursor to the whole new
// screen once the desktop window follows the mode, at times only after the call has returned,
// and that drops a confinement set in between: so this waits for it, a second at most. Wine 10
// does it once more a few milliseconds later, to the same screen, where nothing shows when: the
// settle lets that pass too.
LONG SwitchDisplay(DEVMODEW* mode)
{
    constexpr DWORD kSettleMs = 100;
    // CDS_FULLSCREEN: a game's mode is its own, never written to the registry.
    const LONG result = ChangeDisplaySettingsW(mode, mode != nullptr ? CDS_FULLSCREEN : 0);
    const RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    for (int waited = 0; result == DISP_CHANGE_SUCCESSFUL && waited < 1000; ++waited) {
        if (SameRect(CurrentClip(), screen)) {
            Sleep(kSettleMs);
            break;
        }
        Sleep(1);
    }
    return result;
}

std::string ModeLine(LONG result)
{
    return Stamped(NowMs(), "mode " + std::to_string(GetSystemMetrics(SM_CXSCREEN)) + " " +
                                std::to_string(GetSystemMetrics(SM_CYSCREEN)) + " " +
                                std::to_string(result));
}

void Print(const std::string& line)
{
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

int Game(double startMs)
{
    const HANDLE log = CreateFileW(Setting(L"STANDIN_LOG").c_str(), FILE_APPEND_DATA,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    // Each line goes out at once, so the log is complete up to any moment the game is ended.
    const auto write = [log](const std::string& line) {
        DWORD written;
        WriteFile(log, (line + "\n").data(), static_cast<DWORD>(line.size() + 1), &written,
                  nullptr);
    };
    write(FormatEvent({Event::Start, startMs, {}, GetCurrentProcessId()}));
    write(FormatEvent({Event::Created, CreatedMs(GetCurrentProcess()), {}, 0}));
    write(Stamped(NowMs(), "cmdline " + Utf8(GetCommandLineW())));

    DEVMODEW mode{};
    mode.dmSize = sizeof mode;
    mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
    bool switched = false;
    if (swscanf(Setting(L"STANDIN_MODE").c_str(), L"%lux%lu", &mode.dmPelsWidth,
                &mode.dmPelsHeight) == 2) {
        Sleep(kLoadingMs);
        const LONG result = SwitchDisplay(&mode);
        write(ModeLine(result));
        switched = result == DISP_CHANGE_SUCCESSFUL;
        // The switch frees the cursor; the game then keeps it in an area of its own, which
        // differs from the whole screen, so that the launcher's confinement shows as a change.
        const int width = GetSystemMetrics(SM_CXSCREEN);
        const int height = GetSystemMetrics(SM_CYSCREEN);
        const RECT own{width / 4, height / 4, width * 3 / 4, height * 3 / 4};
        ClipCursor(&own);
    }

    const std::wstring runSetting = Setting(L"STANDIN_RUN_MS");
    const double runMs = runSetting.empty() ? 15000 : std::wcstod(runSetting.c_str(), nullptr);
    RECT clip = CurrentClip();
    write(FormatEvent({Event::Clip, NowMs(), clip, 0}));
    while (NowMs() - startMs < runMs) {
        Sleep(2);
        const RECT current = CurrentClip();
        if (!SameRect(current, clip)) {
            clip = current;
            write(FormatEvent({Event::Clip, NowMs(), clip, 0}));
        }
    }
    if (switched) {
        write(ModeLine(SwitchDisplay(nullptr)));
    }
    RECT exitClip;
    if (swscanf(Setting(L"STANDIN_EXIT_CLIP").c_str(), L"%ld,%ld,%ld,%ld", &exitClip.left,
                &exitClip.top, &exitClip.right, &exitClip.bottom) == 4) {
        ClipCursor(&exitClip);
        write(FormatEvent({Event::Clip, NowMs(), CurrentClip(), 0}));
        // Held a moment, so that a watcher polling every few milliseconds sees it too.
        Sleep(20);
    }
    write(Stamped(NowMs(), "exit"));
    CloseHandle(log);
    return 0;
}

int Clip(int argc, wchar_t** argv)
{
    if (argc == 6) {
        const RECT clip{_wtol(argv[2]), _wtol(argv[3]), _wtol(argv[4]), _wtol(argv[5])};
        ClipCursor(&clip);
    }
    const RECT clip = CurrentClip();
    std::printf("%ld %ld %ld %ld\n", clip.left, clip.top, clip.right, clip.bottom);
    return 0;
}

int Box(bool dismiss)
{
    HWND box = nullptr;
    for (int waited = 0; box == nullptr && waited < 10000; waited += 20) {
        Sleep(20);
        box = FindBox();
    }
    RECT area;
    if (box == nullptr || !GetWindowRect(box, &area)) {
        std::fputs("no box\n", stderr);
        return 1;
    }
    std::printf("rect %ld %ld %ld %ld\n%s\n", area.left, area.top, area.right, area.bottom,
                Utf8(BoxText(box)).c_str());
    if (dismiss) {
        PressOk(box);
    }
    return 0;
}

// Wine frees a desktop, and the cursor confinement with it, as soon as no process uses it,
// and its explorer.exe resets the confinement when it sets the desktop up again; on Windows
// the desktop is always there. So a Wine session keeps this process on its desktop.
int Hold()
{
    GetDesktopWindow(); // connects to the desktop, starting Wine's explorer.exe if need be
    Print("ready " + std::to_string(GetSystemMetrics(SM_CXSCREEN)) + "x" +
          std::to_string(GetSystemMetrics(SM_CYSCREEN)));
    Sleep(INFINITE);
    return 0;
}

// The plain 32-bit process that the benchmark times the launcher against: the launcher's calls,
// the game's start included, written as plainly as they come, with the C runtime around them.
int Control()
{
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION game{};
    char commandLine[] = "FRAV.EXE";
    if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE,
                        CREATE_DEFAULT_ERROR_MODE | NORMAL_PRIORITY_CLASS, nullptr, nullptr,
                        &startup, &game)) {
        return 1;
    }
    Sleep(10000);
    RECT desktop;
    if (GetWindowRect(GetDesktopWindow(), &desktop)) {
        ClipCursor(&desktop);
    }
    WaitForSingleObject(game.hProcess, INFINITE);
    ClipCursor(nullptr);
    CloseHandle(game.hProcess);
    CloseHandle(game.hThread);
    return 0;
}

int Run(int argc, wchar_t** argv)
{
    std::wstring commandLine = L"\"" + std::wstring(argv[2]) + L"\"";
    if (argc > 3) {
        commandLine += L" " + std::wstring(argv[3]);
    }
    Watched watched;
    size_t printed = 0;
    const std::wstring limitSetting = Setting(L"STANDIN_WATCH_MS");
    const double limitMs = limitSetting.empty() ? 0 : std::wcstod(limitSetting.c_str(), nullptr);
    const auto printNew = [&printed, limitMs](const Watched& w) {
        for (; printed < w.events.size(); ++printed) {
            Print(FormatEvent(w.events[printed]));
        }
        if (limitMs > 0 && NowMs() - w.events.front().ms > limitMs) {
            TerminateProcess(w.process, 1);
        }
    };
    if (!RunAndWatch(commandLine, !Setting(L"STANDIN_TRACE").empty(), watched, printNew)) {
        Print(Stamped(NowMs(), "failed " + std::to_string(GetLastError())));
        return 1;
    }
    printNew(watched);
    CloseHandle(watched.process);
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const double startMs = NowMs();
    // Lines end in "\n" alone, as in the game's log, for the scripts that read them.
    _setmode(_fileno(stdout), _O_BINARY);
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (argc == 1) {
        return Game(startMs);
    }
    if (mode == L"clip" && (argc == 2 || argc == 6)) {
        return Clip(argc, argv);
    }
    if (mode == L"box" && argc <= 3) {
        return Box(argc == 3 && std::wstring(argv[2]) == L"dismiss");
    }
    if (mode == L"hold" && argc == 2) {
        return Hold();
    }
    if (mode == L"control" && argc == 2) {
        return Control();
    }
    if (mode == L"run" && (argc == 3 || argc == 4)) {
        return Run(argc, argv);
    }
    std::fputs(
        "usage: standin.exe [clip [L T R B] | box [dismiss] | hold | control | run EXE [TEXT]]\n",
        stderr);
    return 2;
}
