// The operating-system operations the launcher's logic may use, and nothing else.
//
// The logic reaches Windows only through these declarations, so it never sees <windows.h>.
// platform/PlatformOpsWin.cpp implements them for the shipped program; the host tests link
// a recording test double in their place. The Windows functions keep their own names and
// argument order; the records below are laid out exactly as the Windows structures they
// stand for, which the Windows implementation checks at compile time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace PlatformOps {

using Handle = void*;
using WindowHandle = void*;

constexpr std::uint32_t Infinite = 0xFFFFFFFF;

// The longest path Windows accepts, in UTF-16 code units; no file name is longer.
constexpr std::size_t MaxPathLength = 32767;

// Laid out as RECT: left, top, right, bottom in screen coordinates.
struct ScreenRect {
    std::int32_t left;
    std::int32_t top;
    std::int32_t right;
    std::int32_t bottom;
};

// Laid out as STARTUPINFOA.
struct StartupRecord {
    std::uint32_t cb;
    char* lpReserved;
    char* lpDesktop;
    char* lpTitle;
    std::uint32_t dwX;
    std::uint32_t dwY;
    std::uint32_t dwXSize;
    std::uint32_t dwYSize;
    std::uint32_t dwXCountChars;
    std::uint32_t dwYCountChars;
    std::uint32_t dwFillAttribute;
    std::uint32_t dwFlags;
    std::uint16_t wShowWindow;
    std::uint16_t cbReserved2;
    std::uint8_t* lpReserved2;
    Handle hStdInput;
    Handle hStdOutput;
    Handle hStdError;
};
static_assert(sizeof(void*) != 4 || sizeof(StartupRecord) == 68,
              "the 32-bit STARTUPINFOA is 68 bytes");

// Laid out as PROCESS_INFORMATION.
struct ProcessRecord {
    Handle hProcess;
    Handle hThread;
    std::uint32_t dwProcessId;
    std::uint32_t dwThreadId;
};

// Services of the process's environment. Both texts live as long as the process. When one
// can't be had, the program ends here with the platform's fatal error report.

// The command line after the program's own name and the blanks that follow it.
std::wstring_view GetCommandText();
// The running executable's file name without directory and extension.
std::wstring_view GetExeBaseName();

// A modal message box captioned with the program's title; returns once it is dismissed.
void ShowMessage(const wchar_t* text, std::uint32_t style);

// Windows functions. The launcher has nothing useful to do when ClipCursor,
// WaitForSingleObject or CloseHandle fail, so those report nothing.
[[nodiscard]] bool CreateProcessA(const char* applicationName, char* commandLine,
                                  void* processAttributes, void* threadAttributes,
                                  bool inheritHandles, std::uint32_t creationFlags,
                                  void* environment, const char* currentDirectory,
                                  StartupRecord* startupInfo, ProcessRecord* processInformation);
void Sleep(std::uint32_t milliseconds);
WindowHandle GetDesktopWindow();
[[nodiscard]] bool GetWindowRect(WindowHandle window, ScreenRect* rect);
void ClipCursor(const ScreenRect* rect);
void WaitForSingleObject(Handle handle, std::uint32_t milliseconds);
void CloseHandle(Handle handle);

} // namespace PlatformOps
