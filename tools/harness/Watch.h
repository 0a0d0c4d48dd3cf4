// Watching the launcher from outside: the cursor confinement over time, the process's end
// and its message boxes. standin.exe prints what these see for the end-to-end scenarios, the
// demo and the benchmark (standin.cpp describes the formats).
#pragma once

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
// The same clock's reading for the time Windows keeps of when a process was created.
double CreatedMs(HANDLE process);

RECT CurrentClip();
bool SameRect(const RECT& a, const RECT& b);

struct Event {
    enum Kind { Start, Created, Clip, End } kind;
    double ms;
    RECT clip;   // Clip: the confinement from now on
    DWORD value; // Start: process id; End: exit code
};
// One line of the timeline, e.g. "1733512345678.123 clip 0 0 1024 768".
std::string FormatEvent(const Event& event);

struct Watched {
    HANDLE process = nullptr;
    std::vector<Event> events; // Start, Created, the confinement at the start, each change, End,
                               // later changes
};

// Starts commandLine exactly as given, then polls the confinement every couple of
// milliseconds until the process has ended and 300 ms more have passed. onPoll runs after
// every poll. With trace, Wine traces the process's calls (its relay trace, to standard error:
// the harness times each line as it arrives). Returns false if nothing started.
bool RunAndWatch(std::wstring commandLine, bool trace, Watched& watched,
                 const std::function<void(const Watched&)>& onPoll);

// The launcher's message box: a visible top-level window captioned kLauncherTitle. Null while
// there is none.
HWND FindBox();
std::wstring BoxText(HWND box);
void PressOk(HWND box);

std::string Utf8(const std::wstring& text);
