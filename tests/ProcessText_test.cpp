#include "ProcessText.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string_view>

namespace {

using namespace std::literals;

struct Case {
    std::wstring_view given, expected;
};

template <std::size_t N>
void ExpectEach(std::wstring_view (*function)(std::wstring_view), const Case (&cases)[N])
{
    for (const Case& c : cases)
        EXPECT_EQ(function(c.given), c.expected) << testing::PrintToString(std::wstring(c.given));
}

TEST(ArgumentTextOf, CutsTheProgramNameAndTheBlanksAfterIt)
{
    const Case cases[] = {
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
    ExpectEach(PlatformOps::ArgumentTextOf, cases);
}

TEST(BaseNameOf, DropsDirectoryAndLastExtension)
{
    const Case cases[] = {
        {L"C:\\Games\\Narvelox.exe", L"Narvelox"},
        {L"C:\\Games\\my.old game.exe", L"my.old game"},
        {L"C:\\Games.d\\Narvelox", L"Narvelox"},
        {L"\\\\?\\C:\\Games\\launch.EXE", L"launch"},
        {L"C:/Games/Narvelox.exe", L"Narvelox"},
        {L"Narvelox.exe", L"Narvelox"},
        {L"C:\\Games\\", L""},
    };
    ExpectEach(PlatformOps::BaseNameOf, cases);
}

} // namespace
