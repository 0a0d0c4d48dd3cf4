// Pure text helpers behind GetCommandText and GetExeBaseName, kept free of <windows.h>
// so the host tests and the fuzzer run the very code the Windows build uses.
#pragma once

#include <string_view>

namespace PlatformOps {

// Cuts the program's own name off a full command line the way Windows start-up code does:
// a quoted name runs through its closing quote (to the end if there is none), an unquoted
// one up to the first space or tab. The blanks after the name go too; the rest is returned
// unchanged, trailing blanks included.
constexpr std::wstring_view ArgumentTextOf(std::wstring_view commandLine)
{
    constexpr auto npos = std::wstring_view::npos;
    std::size_t nameEnd = commandLine.find_first_of(L" \t");
    if (!commandLine.empty() && commandLine.front() == L'"') {
        const std::size_t closingQuote = commandLine.find(L'"', 1);
        nameEnd = closingQuote == npos ? npos : closingQuote + 1;
    }
    const std::size_t argumentStart = commandLine.find_first_not_of(L" \t", nameEnd);
    if (argumentStart == npos) {
        return {};
    }
    commandLine.remove_prefix(argumentStart);
    return commandLine;
}

// The file name of a path without its directory and without its last extension:
// "C:\Games\my.old game.exe" gives "my.old game"; a name without a dot stays whole.
constexpr std::wstring_view BaseNameOf(std::wstring_view path)
{
    constexpr auto npos = std::wstring_view::npos;
    const std::size_t lastSeparator = path.find_last_of(L"\\/");
    if (lastSeparator != npos) {
        path.remove_prefix(lastSeparator + 1);
    }
    const std::size_t lastDot = path.rfind(L'.');
    if (lastDot != npos) {
        path.remove_suffix(path.size() - lastDot);
    }
    return path;
}

} // namespace PlatformOps
