#include "ProcessText.h"

#include <gtest/gtest.h>

#include <string_view>

namespace {

using namespace std::literals;
using PlatformOps::ArgumentTextOf;
using PlatformOps::BaseNameOf;

TEST(ArgumentTextOf, CutsTheProgramNameAndTheBlanksAfterIt)
{
    const struct {
        std::wstring_view commandLine;
        std::wstring_view argumentText;
    } cases[] = {
        {L"", L""},
        {L"Narvelox.exe", L""},
        {L"Narvelox.exe /norun", L"/norun"},
        {L"Narvelox.exe \t  /? ", L"/? "},
        {L"Narvelox.exe\t/norun\t", L"/norun\t"},
        {L"Narvelox.exe   ", L""},
        {L"\"C:\\Games\\my.old game.exe\" /norun", L"/norun"},
        {L"\"C:\\Games\\my.old game.exe\"/norun", L"/norun"},
        {L"\"C:\\Games\\my.old game.exe\"", L""},
        {L"\"\" /?", L"/?"},
        {L"\"unterminated /norun", L""},
        {L"C:\\Games\\Nar\"velox.exe x", L"x"},
        {L"Narvelox.exe \"  /norun  \"", L"\"  /norun  \""},
        {L"Narvelox.exe a\0b"sv, L"a\0b"sv},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ArgumentTextOf(c.commandLine), c.argumentText)
            << testing::PrintToString(std::wstring(c.commandLine));
    }
}

TEST(BaseNameOf, DropsDirectoryAndLastExtension)
{
    const struct {
        std::wstring_view path;
        std::wstring_view baseName;
    } cases[] = {
        {L"C:\\Games\\Narvelox.exe", L"Narvelox"},
        {L"C:\\Games\\my.old game.exe", L"my.old game"},
        {L"C:\\Games.d\\Narvelox", L"Narvelox"},
        {L"\\\\?\\C:\\Games\\launch.EXE", L"launch"},
        {L"C:/Games/Narvelox.exe", L"Narvelox"},
        {L"Narvelox.exe", L"Narvelox"},
        {L"C:\\Games\\", L""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(BaseNameOf(c.path), c.baseName) << testing::PrintToString(std::wstring(c.path));
    }
}

} // namespace
