#include "modMain.h"

#include "PlatformOps.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <iterator>

using namespace PlatformOps;

namespace {

enum class RunKind { Usage, ClipOnly, Launch };

constexpr std::wstring_view UsageKeyword = L"/?";
constexpr std::wstring_view ClipOnlyKeyword = L"/norun";

constexpr char GameCommandLine[] = "FRAV.EXE";
constexpr std::uint32_t CreateDefaultErrorMode = 0x04000000;
constexpr std::uint32_t NormalPriorityClass = 0x00000020;
constexpr std::uint32_t StartupDelayMs = 10000;

constexpr std::uint32_t ErrorBox = 0x10;       // MB_OK | MB_ICONERROR
constexpr std::uint32_t InformationBox = 0x40; // MB_OK | MB_ICONINFORMATION

// Only spaces are trimmed: a tab or a line break keeps the text from being a keyword.
std::wstring_view TrimSpaces(std::wstring_view text)
{
    const std::size_t first = text.find_first_not_of(L' ');
    if (first == std::wstring_view::npos) {
        return {};
    }
    text.remove_suffix(text.size() - text.find_last_not_of(L' ') - 1);
    text.remove_prefix(first);
    return text;
}

// Both keywords are ASCII, so folding A-Z to a-z is all the lower-casing they need.
bool EqualsFoldingAsciiCase(std::wstring_view text, std::wstring_view lowerCaseKeyword)
{
    return std::equal(text.begin(), text.end(), lowerCaseKeyword.begin(), lowerCaseKeyword.end(),
                      [](wchar_t c, wchar_t keywordChar) {
                          const wchar_t folded = c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c;
                          return folded == keywordChar;
                      });
}

// "/?" and "/norun" count only as the whole text, after trimming spaces and folding A-Z to
// a-z; any other text, the empty one included, starts the game.
RunKind ClassifyArgumentText(std::wstring_view argumentText)
{
    const std::wstring_view CommandText = TrimSpaces(argumentText);
    if (EqualsFoldingAsciiCase(CommandText, UsageKeyword)) {
        return RunKind::Usage;
    }
    if (EqualsFoldingAsciiCase(CommandText, ClipOnlyKeyword)) {
        return RunKind::ClipOnly;
    }
    return RunKind::Launch;
}

} // namespace

void Main()
{
    const RunKind run = ClassifyArgumentText(GetCommandText());
    if (run == RunKind::Usage) {
        ShowUsage();
        return;
    }
    const bool StartGame = run == RunKind::Launch;

    ProcessRecord game{};
    if (StartGame) {
        StartupRecord startup{};
        startup.cb = sizeof startup;
        // CreateProcessA may write into its command line, so it gets a copy of its own.
        // The text is ASCII, which every ANSI code page spells the same.
        char commandLine[sizeof GameCommandLine];
        std::copy(std::begin(GameCommandLine), std::end(GameCommandLine), commandLine);
        const bool started =
            CreateProcessA(/* applicationName */ nullptr,
                           /* commandLine */ commandLine,
                           /* processAttributes */ nullptr,
                           /* threadAttributes */ nullptr,
                           /* inheritHandles */ false,
                           /* creationFlags */ CreateDefaultErrorMode | NormalPriorityClass,
                           /* environment: the launcher's */ nullptr,
                           /* currentDirectory: the launcher's */ nullptr,
                           /* startupInfo */ &startup,
                           /* processInformation */ &game);
        if (!started) {
            ShowMessage(L"Can't start FRAV game.", ErrorBox);
            return;
        }
    }

    // Give the game time to set its display mode before the desktop rectangle is read.
    Sleep(StartupDelayMs);

    // A failed read would leave an empty rectangle, and confining to it would pin the
    // pointer to the screen's corner for the whole game: better no confinement at all.
    ScreenRect desktop{};
    if (GetWindowRect(GetDesktopWindow(), &desktop)) {
        ClipCursor(&desktop);
    }

    // A clip-only run leaves the confinement in force for whatever the player starts next.
    if (!StartGame) {
        return;
    }

    // One blocking wait with no time limit: the launcher uses no processor time meanwhile.
    WaitForSingleObject(game.hProcess, Infinite);
    ClipCursor(nullptr);
    CloseHandle(game.hProcess);
    CloseHandle(game.hThread);
}

void ShowUsage()
{
    constexpr std::wstring_view head = L"Usage: \r\n\r\n";
    constexpr std::wstring_view syntax = L"[.EXE] [/NoRun]";
    constexpr std::wstring_view tail = L"\r\n\r\n/NoRun - Clip screen but don't start game.";

    // No path is longer than MaxPathLength; the cap only keeps the buffer's bound local.
    std::wstring_view baseName = GetExeBaseName();
    baseName.remove_suffix(baseName.size() - std::min(baseName.size(), MaxPathLength));

    // Static, not on the stack: a frame this size would need a stack probe, which only the
    // C runtime supplies.
    static wchar_t text[head.size() + MaxPathLength + syntax.size() + tail.size() + 1];
    wchar_t* end = text;
    for (const std::wstring_view piece : {head, baseName, syntax, tail}) {
        end = std::copy(piece.begin(), piece.end(), end);
    }
    *end = L'\0';
    ShowMessage(text, InformationBox);
}
