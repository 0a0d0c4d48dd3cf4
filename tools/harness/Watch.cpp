#include "Watch.h"

#include <cstdio>

namespace {

constexpr DWORD kPollMs = 2;
constexpr double kSettleMs = 300; // changes this soon after the end are still listed

// The current environment, with Wine's debug channels set to trace the calls the relay settings
// name. Wine reads them when the process starts, so the watcher's own stay as they were.
std::wstring TracingEnvironment()
{
    std::wstring block;
    wchar_t* const all = GetEnvironmentStringsW();
    for (const wchar_t* entry = all; *entry != L'\0'; entry += wcslen(entry) + 1) {
        if (_wcsnicmp(entry, L"WINEDEBUG=", 10) != 0) {
            block.append(entry).push_back(L'\0');
        }
    }
    FreeEnvironmentStringsW(all);
    return block.append(L"WINEDEBUG=-all,+relay").append(1, L'\0'); // and data()'s own
}

BOOL CALLBACK FindBoxWindow(HWND window, LPARAM found)
{
    wchar_t title[64];
    if (IsWindowVisible(window) && GetWindowTextW(window, title, 64) &&
        lstrcmpW(title, kLauncherTitle) == 0) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

double Ms(const FILETIME& time)
{
    const ULONGLONG ticks = (ULONGLONG{time.dwHighDateTime} << 32) | time.dwLowDateTime;
    constexpr ULONGLONG kTicksFrom1601To1970 = 116444736000000000ULL;
    return static_cast<double>(ticks - kTicksFrom1601To1970) / 10000.0;
}

} // namespace

double NowMs()
{
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    return Ms(now);
}

double CreatedMs(HANDLE process)
{
    FILETIME created{}, exited, kernel, user;
    GetProcessTimes(process, &created, &exited, &kernel, &user);
    return Ms(created);
}

RECT CurrentClip()
{
    RECT clip{};
    GetClipCursor(&clip);
    return clip;
}

bool SameRect(const RECT& a, const RECT& b)
{
    return EqualRect(&a, &b) != FALSE;
}

std::string FormatEvent(const Event& event)
{
    char line[96];
    const RECT& r = event.clip;
    switch (event.kind) {
    case Event::Start:
        snprintf(line, sizeof line, "%.3f start %lu", event.ms, event.value);
        break;
    case Event::Created:
        snprintf(line, sizeof line, "%.3f created", event.ms);
        break;
    case Event::Clip:
        snprintf(line, sizeof line, "%.3f clip %ld %ld %ld %ld", event.ms, r.left, r.top, r.right,
                 r.bottom);
        break;
    case Event::End:
        snprintf(line, sizeof line, "%.3f end %lu", event.ms, event.value);
        break;
    }
    return line;
}

bool RunAndWatch(std::wstring commandLine, bool trace, Watched& watched,
                 const std::function<void(const Watched&)>& onPoll)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    std::wstring environment = trace ? TracingEnvironment() : std::wstring();
    PROCESS_INFORMATION process{};
    RECT clip = CurrentClip();
    const double startMs = NowMs();
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE,
                        CREATE_UNICODE_ENVIRONMENT, trace ? environment.data() : nullptr, nullptr,
                        &startup, &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    watched.process = process.hProcess;
    watched.events = {{Event::Start, startMs, {}, process.dwProcessId},
                      {Event::Created, CreatedMs(process.hProcess), {}, 0},
                      {Event::Clip, startMs, clip, 0}};
    double endMs = 0;
    for (;;) {
        Sleep(kPollMs);
        const double now = NowMs();
        const RECT current = CurrentClip();
        if (!SameRect(current, clip)) {
            clip = current;
            watched.events.push_back({Event::Clip, now, clip, 0});
        }
        if (endMs == 0 && WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0) {
            DWORD exitCode = 0;
            GetExitCodeProcess(process.hProcess, &exitCode);
            endMs = now;
            watched.events.push_back({Event::End, now, {}, exitCode});
        }
        onPoll(watched);
        if (endMs != 0 && now - endMs >= kSettleMs) {
            return true;
        }
    }
}

HWND FindBox()
{
    HWND found = nullptr;
    EnumWindows(FindBoxWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

std::wstring BoxText(HWND box)
{
    // A message box shows its text in the static control with id 0xFFFF.
    std::wstring text(4096, L'\0');
    text.resize(GetDlgItemTextW(box, 0xFFFF, text.data(), static_cast<int>(text.size())));
    return text;
}

void PressOk(HWND box)
{
    // Sent rather than posted: Wine 8's dialog loop acts on a posted click only two seconds
    // later, which would read as a launcher slow to end.
    SendMessageTimeoutW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                        reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)), SMTO_ABORTIFHUNG, 2000,
                        nullptr);
}

std::string Utf8(const std::wstring& text)
{
    const int size = static_cast<int>(text.size());
    std::string utf8(static_cast<size_t>(size) * 3, '\0');
    utf8.resize(
        static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, text.data(), size, utf8.data(),
                                                static_cast<int>(utf8.size()), nullptr, nullptr)));
    return utf8;
}
