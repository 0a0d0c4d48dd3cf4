// Watching the launcher from outside: the cursor confinement over time, the process's end
// and its message boxes. Shared by standin.exe and the end-to-end scenarios, so the timeline
// the tool prints is the very one the scenarios check.
#pragma once

#define UNICODE // IDI_ASTERISK and the like as wide-character names
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

constexpr wchar_t kLauncherTitle[] = L"Zintrok - Narvelox";

// Milliseconds since 1970-01-01 UTC from the system's precise clock. Every process reads the
// same clock, so times logged by the watcher and by the stand-in game compare directly.
double NowMs();

RECT CurrentClip();
bool SameRect(const RECT& a, const RECT& b);
// What GetClipCursor reads when nothing confines the cursor, and what the launcher confines to.
RECT DesktopRect();

struct Event {
    enum Kind { Start, Clip, End } kind;
    double ms;
    RECT clip;   // Clip: the confinement from now on
    DWORD value; // Start: process id; End: exit code
};
// One line of the timeline, e.g. "1733512345678.123 clip 0 0 1024 768".
std::string FormatEvent(const Event& event);

struct Watched {
    HANDLE process = nullptr;
    DWORD pid = 0;
    std::vector<Event> events; // Start, the confinement then, each change, End, later changes
};

// The exit code of a process RunAndWatch ended because it ran past its limit.
constexpr DWORD kOverstayed = 0xDEAD;

// Starts commandLine exactly as given, then polls the confinement every couple of
// milliseconds until the process has ended and settleMs more have passed. onPoll runs after
// every poll (a scenario presses a box's button there). A process still running limitMs
// after its start is terminated. Returns false if nothing started.
bool RunAndWatch(std::wstring commandLine, const wchar_t* directory, const wchar_t* environment,
                 Watched& watched, const std::function<void(const Watched&)>& onPoll = {},
                 DWORD settleMs = 300, DWORD limitMs = INFINITE);

// The launcher's message box: a visible top-level window captioned kLauncherTitle, owned by
// process pid (0: by any process). Null while there is none.
HWND FindBox(DWORD pid);
std::wstring BoxText(HWND box);
// The number of buttons the box has, and whether one of them is OK.
int BoxButtons(HWND box, bool* hasOk);
// Which standard icon the box shows, told from the pixels on screen: IDI_ASTERISK (the
// information icon), IDI_HAND (error), IDI_EXCLAMATION or IDI_QUESTION; null if none fits.
const wchar_t* BoxIcon(HWND box);
void PressOk(HWND box);

std::string Utf8(const std::wstring& text);
