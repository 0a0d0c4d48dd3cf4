#include "FakePlatform.h"

#include <cstdio>
#include <type_traits>

using namespace PlatformOps;

namespace {

// Handles the double gives out, named in the record by what they stand for.
Handle const kProcess = reinterpret_cast<Handle>(0x1000);
Handle const kThread = reinterpret_cast<Handle>(0x2000);
WindowHandle const kDesktop = reinterpret_cast<WindowHandle>(0x3000);

std::string NameOf(const void* handle)
{
    if (handle == nullptr) return "null";
    if (handle == kProcess) return "process";
    if (handle == kThread) return "thread";
    if (handle == kDesktop) return "desktop";
    return "unknown handle";
}

// Texts in C notation, so a stray line break or a non-ASCII character shows in a failure.
template <typename Char> std::string Quoted(const Char* text)
{
    if (text == nullptr) return "null";
    std::string out = "\"";
    for (const Char* c = text; *c != 0; ++c) {
        const auto code = static_cast<unsigned long>(static_cast<std::make_unsigned_t<Char>>(*c));
        if (code == '\r')
            out += "\\r";
        else if (code == '\n')
            out += "\\n";
        else if (code == '\t')
            out += "\\t";
        else if (code >= 0x20 && code < 0x7F)
            out += static_cast<char>(code);
        else
            out += "\\x{" + std::to_string(code) + "}";
    }
    return out + "\"";
}

std::string Hex(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

// "own size" when cb is the record's size and nothing else is set, as the game expects.
std::string Describe(const StartupRecord* startup)
{
    if (startup == nullptr) return "null";
    StartupRecord expected{};
    expected.cb = sizeof expected;
    const StartupRecord& s = *startup;
    const bool onlySize = s.cb == expected.cb && !s.lpReserved && !s.lpDesktop && !s.lpTitle &&
                          !s.dwX && !s.dwY && !s.dwXSize && !s.dwYSize && !s.dwXCountChars &&
                          !s.dwYCountChars && !s.dwFillAttribute && !s.dwFlags && !s.wShowWindow &&
                          !s.cbReserved2 && !s.lpReserved2 && !s.hStdInput && !s.hStdOutput &&
                          !s.hStdError;
    return onlySize ? "{cb=own size, rest zero}" : "{cb=" + std::to_string(s.cb) + ", other}";
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
    Fake().calls.push_back("GetCommandText()");
    return Fake().argumentText;
}

std::wstring_view GetExeBaseName()
{
    Fake().calls.push_back("GetExeBaseName()");
    if (Fake().failExeBaseName) throw FatalExit{};
    return Fake().exeBaseName;
}

void ShowMessage(const wchar_t* text, std::uint32_t style)
{
    Fake().calls.push_back("ShowMessage(" + Quoted(text) + ", " + Hex(style) + ")");
}

bool CreateProcessA(const char* applicationName, char* commandLine, void* processAttributes,
                    void* threadAttributes, bool inheritHandles, std::uint32_t creationFlags,
                    void* environment, const char* currentDirectory, StartupRecord* startupInfo,
                    ProcessRecord* processInformation)
{
    Fake().calls.push_back(
        "CreateProcessA(" + Quoted(applicationName) + ", " + Quoted(commandLine) + ", " +
        NameOf(processAttributes) + ", " + NameOf(threadAttributes) + ", " +
        (inheritHandles ? "inherit" : "no inherit") + ", " + Hex(creationFlags) + ", " +
        NameOf(environment) + ", " + Quoted(currentDirectory) + ", " + Describe(startupInfo) + ")");
    if (Fake().failCreateProcess) return false;
    *processInformation = {kProcess, kThread, 4242, 4343};
    return true;
}

void Sleep(std::uint32_t milliseconds)
{
    Fake().calls.push_back("Sleep(" + std::to_string(milliseconds) + ")");
}

WindowHandle GetDesktopWindow()
{
    Fake().calls.push_back("GetDesktopWindow()");
    return kDesktop;
}

bool GetWindowRect(WindowHandle window, ScreenRect* rect)
{
    Fake().calls.push_back("GetWindowRect(" + NameOf(window) + ")");
    if (Fake().failGetWindowRect) return false;
    *rect = Fake().desktop;
    return true;
}

void ClipCursor(const ScreenRect* rect)
{
    Fake().calls.push_back(rect == nullptr
                               ? std::string("ClipCursor(null)")
                               : "ClipCursor(" + std::to_string(rect->left) + "," +
                                     std::to_string(rect->top) + "-" + std::to_string(rect->right) +
                                     "," + std::to_string(rect->bottom) + ")");
}

void WaitForSingleObject(Handle handle, std::uint32_t milliseconds)
{
    Fake().calls.push_back("WaitForSingleObject(" + NameOf(handle) + ", " + Hex(milliseconds) +
                           ")");
}

void CloseHandle(Handle handle)
{
    Fake().calls.push_back("CloseHandle(" + NameOf(handle) + ")");
}

} // namespace PlatformOps
