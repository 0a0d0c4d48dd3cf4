#include "Watch.h"

#include <cstdio>
#include <initializer_list>

namespace {

constexpr DWORD kPollMs = 2;

bool HasClass(HWND window, const wchar_t* name)
{
    wchar_t className[16];
    return GetClassNameW(window, className, 16) && lstrcmpiW(className, name) == 0;
}

BOOL CALLBACK FindIconControl(HWND child, LPARAM found)
{
    if (HasClass(child, L"Static") && (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
        *reinterpret_cast<HWND*>(found) = child;
        return FALSE;
    }
    return TRUE;
}

struct BoxSearch {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindBoxWindow(HWND window, LPARAM param)
{
    auto& search = *reinterpret_cast<BoxSearch*>(param);
    wchar_t title[64];
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if ((search.pid == 0 || owner == search.pid) && IsWindowVisible(window) &&
        GetWindowTextW(window, title, 64) && lstrcmpW(title, kLauncherTitle) == 0) {
        search.found = window;
        return FALSE;
    }
    return TRUE;
}

struct ButtonCount {
    int buttons;
    bool hasOk;
};

BOOL CALLBACK CountButton(HWND child, LPARAM param)
{
    auto& count = *reinterpret_cast<ButtonCount*>(param);
    if (IsWindowVisible(child) && HasClass(child, L"Button")) {
        ++count.buttons;
        count.hasOk = count.hasOk || GetDlgCtrlID(child) == IDOK;
    }
    return TRUE;
}

std::vector<DWORD> Pixels(HDC dc, HBITMAP bitmap, int width, int height)
{
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<DWORD> pixels(static_cast<size_t>(width * height));
    GetDIBits(dc, bitmap, 0, static_cast<UINT>(height), pixels.data(), &info, DIB_RGB_COLORS);
    return pixels;
}

} // namespace

double NowMs()
{
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    const ULONGLONG ticks = (ULONGLONG{now.dwHighDateTime} << 32) | now.dwLowDateTime;
    constexpr ULONGLONG kTicksFrom1601To1970 = 116444736000000000ULL;
    return static_cast<double>(ticks - kTicksFrom1601To1970) / 10000.0;
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

RECT DesktopRect()
{
    RECT desktop{};
    GetWindowRect(GetDesktopWindow(), &desktop);
    return desktop;
}

std::string FormatEvent(const Event& event)
{
    char line[96];
    const RECT& r = event.clip;
    switch (event.kind) {
    case Event::Start:
        snprintf(line, sizeof line, "%.3f start %lu", event.ms, event.value);
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

bool RunAndWatch(std::wstring commandLine, const wchar_t* directory, const wchar_t* environment,
                 Watched& watched, const std::function<void(const Watched&)>& onPoll,
                 DWORD settleMs, DWORD limitMs)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    RECT clip = CurrentClip();
    const double startMs = NowMs();
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE,
                        environment ? CREATE_UNICODE_ENVIRONMENT : 0,
                        const_cast<wchar_t*>(environment), directory, &startup, &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    watched.process = process.hProcess;
    watched.pid = process.dwProcessId;
    watched.events = {{Event::Start, startMs, {}, process.dwProcessId},
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
        if (onPoll) {
            onPoll(watched);
        }
        if (endMs != 0 && now - endMs >= settleMs) {
            return true;
        }
        // A process that overstays is ended, so a stuck run still gives its timeline.
        if (endMs == 0 && limitMs != INFINITE && now - startMs > limitMs) {
            TerminateProcess(process.hProcess, kOverstayed);
        }
    }
}

HWND FindBox(DWORD pid)
{
    BoxSearch search{pid, nullptr};
    EnumWindows(FindBoxWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::wstring BoxText(HWND box)
{
    // A message box shows its text in the static control with id 0xFFFF.
    std::wstring text(4096, L'\0');
    text.resize(GetDlgItemTextW(box, 0xFFFF, text.data(), static_cast<int>(text.size())));
    return text;
}

int BoxButtons(HWND box, bool* hasOk)
{
    ButtonCount count{0, false};
    EnumChildWindows(box, CountButton, reinterpret_cast<LPARAM>(&count));
    *hasOk = count.hasOk;
    return count.buttons;
}

const wchar_t* BoxIcon(HWND box)
{
    // The icon handle belongs to the box's process and can't be read from here, so the icon
    // is told by drawing each standard icon over the same background and comparing pixels.
    HWND control = nullptr;
    EnumChildWindows(box, FindIconControl, reinterpret_cast<LPARAM>(&control));
    RECT area;
    if (control == nullptr || !GetWindowRect(control, &area)) {
        return nullptr;
    }
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    const HDC screen = GetDC(nullptr);
    const HDC memory = CreateCompatibleDC(screen);
    const HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    const HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    SelectObject(memory, previous);
    const std::vector<DWORD> shown = Pixels(memory, bitmap, width, height);

    // The corner is background for every standard icon.
    const DWORD corner = shown.empty() ? 0 : shown[0];
    const HBRUSH background =
        CreateSolidBrush(RGB((corner >> 16) & 0xFF, (corner >> 8) & 0xFF, corner & 0xFF));
    const RECT whole{0, 0, width, height};
    const wchar_t* best = nullptr;
    size_t fewestDifferences = shown.size() / 20 + 1; // a few stray pixels are tolerated
    for (const wchar_t* icon : {IDI_ASTERISK, IDI_HAND, IDI_EXCLAMATION, IDI_QUESTION}) {
        SelectObject(memory, bitmap);
        FillRect(memory, &whole, background);
        DrawIconEx(memory, 0, 0, LoadIconW(nullptr, icon), width, height, 0, nullptr, DI_NORMAL);
        SelectObject(memory, previous);
        const std::vector<DWORD> drawn = Pixels(memory, bitmap, width, height);
        size_t differences = 0;
        for (size_t i = 0; i < shown.size(); ++i) {
            differences += (shown[i] & 0xFFFFFF) != (drawn[i] & 0xFFFFFF);
        }
        if (differences < fewestDifferences) {
            fewestDifferences = differences;
            best = icon;
        }
    }
    DeleteObject(background);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return best;
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
