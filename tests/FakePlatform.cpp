#include "FakePlatform.h"

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <iterator>

using namespace PlatformOps;

namespace {

// The handles the double gives out are indices into their names, so that a record names them.
const char* const kHandleNames[] = {"null", "process", "thread", "desktop"};
Handle const kProcess = reinterpret_cast<Handle>(1);
Handle const kThread = reinterpret_cast<Handle>(2);
WindowHandle const kDesktop = reinterpret_cast<WindowHandle>(3);

std::string Show(const void* handle)
{
    const auto index = reinterpret_cast<std::uintptr_t>(handle);
    return index < std::size(kHandleNames) ? kHandleNames[index] : "unknown handle";
}

// A text in quotes, each character outside ASCII shown as '?'.
template <typename Char> std::string Show(const Char* text)
{
    if (text == nullptr) return "null";
    std::string shown = "\"";
    for (; *text != 0; ++text)
        shown += *text > 0 && *text < 0x80 ? static_cast<char>(*text) : '?';
    return shown + '"';
}

template <typename... Values> std::string Format(const char* format, Values... values)
{
    char text[64];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

std::string Show(const ScreenRect* r)
{
    return r ? Format("%d,%d-%d,%d", r->left, r->top, r->right, r->bottom) : "null";
}

// "own size" when cb is the record's size and nothing else is set, as the game expects.
std::string Show(const StartupRecord* s)
{
    const bool restZero =
        !(s->lpReserved || s->lpDesktop || s->lpTitle || s->lpReserved2 || s->hStdInput ||
          s->hStdOutput || s->hStdError) &&
        !(s->dwX | s->dwY | s->dwXSize | s->dwYSize | s->dwXCountChars | s->dwYCountChars |
          s->dwFillAttribute | s->dwFlags | s->wShowWindow | s->cbReserved2);
    const std::string cb = s->cb == sizeof *s ? "own size" : std::to_string(s->cb);
    return "{cb=" + cb + (restZero ? ", rest zero}" : ", other}");
}

void Record(const char* name, std::initializer_list<std::string> arguments)
{
    std::string line = std::string(name) + "(";
    for (const std::string& argument : arguments)
        line += (line.back() == '(' ? "" : ", ") + argument;
    Fake().calls.push_back(line + ")");
}

} // namespace

FakePlatform& Fake()
{
    static FakePlatform fake;
    return fake;
}

namespace PlatformOps {

std::wstring_view GetCommandText()
{
    Record("GetCommandText", {});
    return Fake().argumentText;
}

std::wstring_view GetExeBaseName()
{
    Record("GetExeBaseName", {});
    if (Fake().failExeBaseName) throw FatalExit{};
    return Fake().exeBaseName;
}

void ShowMessage(const wchar_t* text, std::uint32_t style)
{
    Record("ShowMessage", {Show(text), Format("0x%08X", style)});
}

bool CreateProcessA(const char* applicationName, char* commandLine, void* processAttributes,
                    void* threadAttributes, bool inheritHandles, std::uint32_t creationFlags,
                    void* environment, const char* currentDirectory, StartupRecord* startupInfo,
                    ProcessRecord* processInformation)
{
    Record("CreateProcessA", {Show(applicationName), Show(commandLine), Show(processAttributes),
                              Show(threadAttributes), inheritHandles ? "inherit" : "no inherit",
                              Format("0x%08X", creationFlags), Show(environment),
                              Show(currentDirectory), Show(startupInfo)});
    if (Fake().failCreateProcess) return false;
    *processInformation = {kProcess, kThread, 4242, 4343};
    return true;
}

void Sleep(std::uint32_t milliseconds)
{
    Record("Sleep", {Format("%u", milliseconds)});
}

WindowHandle GetDesktopWindow()
{
    Record("GetDesktopWindow", {});
    return kDesktop;
}

bool GetWindowRect(WindowHandle window, ScreenRect* rect)
{
    Record("GetWindowRect", {Show(window)});
    if (Fake().failGetWindowRect) return false;
    *rect = Fake().desktop;
    return true;
}

void ClipCursor(const ScreenRect* rect)
{
    Record("ClipCursor", {Show(rect)});
}

void WaitForSingleObject(Handle handle, std::uint32_t milliseconds)
{
    Record("WaitForSingleObject", {Show(handle), Format("0x%08X", milliseconds)});
}

void CloseHandle(Handle handle)
{
    Record("CloseHandle", {Show(handle)});
}

} // namespace PlatformOps
