#include "FakePlatform.h"
#include "modMain.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Calls = std::vector<std::string>;

const std::string kLaunch = "CreateProcessA(null, \"FRAV.EXE\", null, null, no inherit, "
                            "0x04000020, null, null, {cb=own size, rest zero})";
const Calls kDelayThenConfine = {"Sleep(10000)", "GetDesktopWindow()", "GetWindowRect(desktop)",
                                 "ClipCursor(-1280,0-1920,1080)"};
const Calls kWaitThenRelease = {"WaitForSingleObject(process, 0xFFFFFFFF)", "ClipCursor(null)",
                                "CloseHandle(process)", "CloseHandle(thread)"};

Calls Join(std::initializer_list<Calls> parts)
{
    Calls all = {"GetCommandText()"};
    for (const Calls& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

const Calls kLaunchRun = Join({{kLaunch}, kDelayThenConfine, kWaitThenRelease});
const Calls kClipOnlyRun = Join({kDelayThenConfine});
const Calls kUsageRun = Join(
    {{"GetExeBaseName()", "ShowMessage(\"Usage: \\r\\n\\r\\nNarvelox[.EXE] [/NoRun]\\r\\n\\r\\n"
                          "/NoRun - Clip screen but don't start game.\", 0x00000040)"}});

Calls RunMain(FakePlatform fake)
{
    Fake() = std::move(fake);
    Main();
    return Fake().calls;
}

Calls RunWith(const wchar_t* argumentText)
{
    FakePlatform fake;
    fake.argumentText = argumentText;
    return RunMain(fake);
}

struct ArgumentCase {
    const wchar_t* text;
    const Calls& run;
};

const ArgumentCase kArgumentCases[] = {
    {L"", kLaunchRun},
    {L"   ", kLaunchRun},
    {L"/?", kUsageRun},
    {L"  /?  ", kUsageRun},
    {L"/norun", kClipOnlyRun},
    {L" /NoRun ", kClipOnlyRun},
    {L"/NORUN  ", kClipOnlyRun},
    {L"   /nOrUn", kClipOnlyRun},
    // Only spaces are trimmed: tabs, line breaks and other blanks keep a keyword from counting.
    {L"/norun\t", kLaunchRun},
    {L"\t/?", kLaunchRun},
    {L"/norun\r\n", kLaunchRun},
    {L"/norun\u00A0", kLaunchRun},
    // A keyword counts only as the whole text, spelt with a slash.
    {L"/norun /?", kLaunchRun},
    {L"/? /norun", kLaunchRun},
    {L"/norunx", kLaunchRun},
    {L"/noru", kLaunchRun},
    {L"x/norun", kLaunchRun},
    {L"/?x", kLaunchRun},
    {L"/ norun", kLaunchRun},
    {L"-norun", kLaunchRun},
    {L"?", kLaunchRun},
    {L"\"/norun\"", kLaunchRun},
    // Only A-Z fold: a fullwidth letter is not an "n".
    {L"/\uFF4Eorun", kLaunchRun},
};

TEST(Main, EachArgumentTextGivesItsRunAndNothingElse)
{
    for (const ArgumentCase& c : kArgumentCases) {
        EXPECT_EQ(RunWith(c.text), c.run)
            << "argument text: \"" << testing::PrintToString(std::wstring(c.text)) << "\"";
    }
}

TEST(Main, GameThatCannotStartGivesOnlyTheErrorBox)
{
    FakePlatform fake;
    fake.failCreateProcess = true;
    EXPECT_EQ(RunMain(fake),
              Join({{kLaunch, "ShowMessage(\"Can't start FRAV game.\", 0x00000010)"}}));
}

TEST(Main, UnreadableDesktopRectangleConfinesNothing)
{
    FakePlatform launch;
    launch.failGetWindowRect = true;
    const Calls readOnly = {"Sleep(10000)", "GetDesktopWindow()", "GetWindowRect(desktop)"};
    EXPECT_EQ(RunMain(launch), Join({{kLaunch}, readOnly, kWaitThenRelease}));

    FakePlatform clipOnly = launch;
    clipOnly.argumentText = L"/norun";
    EXPECT_EQ(RunMain(clipOnly), Join({readOnly}));
}

TEST(ShowUsage, NamesTheExecutableAsItIsCalledOnDisk)
{
    const std::wstring longest(PlatformOps::kMaxPathLength, L'n');
    for (const std::wstring& name : {std::wstring(L"my.old game"), std::wstring(L"x"), longest}) {
        Fake() = {};
        Fake().exeBaseName = name;
        ShowUsage();
        ASSERT_EQ(Fake().calls.size(), 2u);
        const std::string expectedText =
            "\"Usage: \\r\\n\\r\\n" + std::string(name.begin(), name.end()) +
            "[.EXE] [/NoRun]\\r\\n\\r\\n/NoRun - Clip screen but don't start game.\"";
        EXPECT_EQ(Fake().calls[1], "ShowMessage(" + expectedText + ", 0x00000040)");
    }
}

TEST(ShowUsage, UnreadableExeNameEndsTheProgramWithoutABox)
{
    FakePlatform fake;
    fake.argumentText = L"/?";
    fake.failExeBaseName = true;
    Fake() = fake;
    EXPECT_THROW(Main(), FatalExit);
    EXPECT_EQ(Fake().calls, Join({{"GetExeBaseName()"}}));
}

} // namespace
