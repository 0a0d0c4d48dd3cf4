// The launcher's operations on Windows: each forwards to the Windows function of the same
// name, or, for the process's own texts, reads them from the system.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "PlatformOps.h"
#include "ProcessText.h"

#include <cstddef>
#include <cstring>
#include <iterator>

namespace PlatformOps {

namespace {

constexpr wchar_t ProgramTitle[] = L"Zintrok - Narvelox";

// The startup record is handed over byte for byte, so it must be laid out as STARTUPINFOA. The
// other two records are copied field by field, and laid out as their structures all the same.
static_assert(sizeof(StartupRecord) == sizeof(STARTUPINFOA));
static_assert(offsetof(StartupRecord, dwFlags) == offsetof(STARTUPINFOA, dwFlags));
static_assert(offsetof(StartupRecord, lpReserved2) == offsetof(STARTUPINFOA, lpReserved2));
static_assert(offsetof(StartupRecord, hStdError) == offsetof(STARTUPINFOA, hStdError));
static_assert(sizeof(ScreenRect) == sizeof(RECT) &&
              offsetof(ScreenRect, bottom) == offsetof(RECT, bottom));
static_assert(sizeof(ProcessRecord) == sizeof(PROCESS_INFORMATION) &&
              offsetof(ProcessRecord, dwThreadId) == offsetof(PROCESS_INFORMATION, dwThreadId));

// Ends the program with the system's own fatal error box; the launcher shows none of its own.
[[noreturn]] void FailFatally(const wchar_t* what)
{
    FatalAppExitW(0, what);
    ExitProcess(1);
}

} // namespace

std::wstring_view GetCommandText()
{
    return ArgumentTextOf(::GetCommandLineW());
}

std::wstring_view GetExeBaseName()
{
    // Static rather than on the stack: it is the size of the longest path Windows allows.
    static wchar_t path[MaxPathLength + 1];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
    // A full buffer means the name was cut short.
    if (length == 0 || length >= std::size(path)) {
        FailFatally(L"Narvelox can't read its own file name.");
    }
    return BaseNameOf({path, length});
}

void ShowMessage(const wchar_t* text, std::uint32_t style)
{
    ::MessageBoxW(nullptr, text, ProgramTitle, style);
}

bool CreateProcessA(const char* applicationName, char* commandLine, void* processAttributes,
                    void* threadAttributes, bool inheritHandles, std::uint32_t creationFlags,
                    void* environment, const char* currentDirectory, StartupRecord* startupInfo,
                    ProcessRecord* processInformation)
{
    STARTUPINFOA startup;
    std::memcpy(&startup, startupInfo, sizeof startup);
    PROCESS_INFORMATION process{};
    const BOOL started = ::CreateProcessA(
        applicationName, commandLine, static_cast<SECURITY_ATTRIBUTES*>(processAttributes),
        static_cast<SECURITY_ATTRIBUTES*>(threadAttributes), inheritHandles ? TRUE : FALSE,
        creationFlags, environment, currentDirectory, &startup, &process);
    *processInformation = {process.hProcess, process.hThread, process.dwProcessId,
                           process.dwThreadId};
    return started != FALSE;
}

void Sleep(std::uint32_t milliseconds)
{
    ::Sleep(milliseconds);
}

WindowHandle GetDesktopWindow()
{
    return ::GetDesktopWindow();
}

bool GetWindowRect(WindowHandle window, ScreenRect* rect)
{
    RECT windowRect;
    if (!::GetWindowRect(static_cast<HWND>(window), &windowRect)) {
        return false;
    }
    *rect = {windowRect.left, windowRect.top, windowRect.right, windowRect.bottom};
    return true;
}

void ClipCursor(const ScreenRect* rect)
{
    if (rect == nullptr) {
        ::ClipCursor(nullptr);
        return;
    }
    const RECT clip{rect->left, rect->top, rect->right, rect->bottom};
    ::ClipCursor(&clip);
}

void WaitForSingleObject(Handle handle, std::uint32_t milliseconds)
{
    ::WaitForSingleObject(handle, milliseconds);
}

void CloseHandle(Handle handle)
{
    ::CloseHandle(handle);
}

} // namespace PlatformOps
