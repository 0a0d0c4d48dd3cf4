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

// The calls of one run: reading the argument text, then the given parts in order.
Calls Sequence(std::initializer_list<Calls> parts)
{
    Calls all = {"GetCommandText()"};
    for (const Calls& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

std::string UsageBox(const std::string& name)
{
    return "ShowMessage(\"Usage: \r\n\r\n" + name +
           "[.EXE] [/NoRun]\r\n\r\n/NoRun - Clip screen but don't start game.\", 0x00000040)";
}

const Calls kLaunchRun = Sequence({{kLaunch}, kDelayThenConfine, kWaitThenRelease});
const Calls kClipOnlyRun = Sequence({kDelayThenConfine});
const Calls kUsageRun = Sequence({{"GetExeBaseName()", UsageBox("Narvelox")}});

// Runs Main against the double set up by the caller, and gives its calls.
Calls RunMain(FakePlatform fake)
{
    Fake() = std::move(fake);
    Main();
    return Fake().calls;
}

TEST(Main, EachArgumentTextGivesItsRunAndNothingElse)
{
    const struct {
        const wchar_t* text;
        const Calls& run;
    } cases[] = {
        {L"", kLaunchRun},
        {L"   ", kLaunchRun},
        {L"/?", kUsageRun},
        {L"  /?  ", kUsageRun},
        {L"/norun", kClipOnlyRun},
        {L" /NoRun ", kClipOnlyRun},
        // Only spaces are trimmed: tabs, line breaks and other blanks keep a keyword from counting.
        {L"/norun\t", kLaunchRun},
        {L"\t/?", kLaunchRun},
        {L"/norun\r\n", kLaunchRun},
        {L"/norun\u00A0", kLaunchRun},
        // A keyword counts only as the whole text, spelt with a slash.
        {L"/norun /?", kLaunchRun},
        {L"/norunx", kLaunchRun},
        {L"-norun", kLaunchRun},
    };
    for (const auto& c : cases) {
        FakePlatform fake;
        fake.argumentText = c.text;
        EXPECT_EQ(RunMain(fake), c.run) << testing::PrintToString(std::wstring(c.text));
    }
}

TEST(Main, FailedPlatformCallsConfineNothing)
{
    FakePlatform noGame;
    noGame.failCreateProcess = true;
    EXPECT_EQ(RunMain(noGame),
              Sequence({{kLaunch, "ShowMessage(\"Can't start FRAV game.\", 0x00000010)"}}));

    // A failed read leaves no rectangle to confine to; a launch run still waits and releases.
    FakePlatform noRectangle;
    noRectangle.failGetWindowRect = true;
    const Calls readOnly = {"Sleep(10000)", "GetDesktopWindow()", "GetWindowRect(desktop)"};
    EXPECT_EQ(RunMain(noRectangle), Sequence({{kLaunch}, readOnly, kWaitThenRelease}));
    noRectangle.argumentText = L"/norun";
    EXPECT_EQ(RunMain(noRectangle), Sequence({readOnly}));
}

TEST(ShowUsage, NamesTheExecutableAsItIsCalledOnDisk)
{
    const std::wstring longest(PlatformOps::MaxPathLength, L'n');
    for (const std::wstring& name : {std::wstring(L"my.old game"), std::wstring(L"x"), longest}) {
        FakePlatform fake;
        fake.argumentText = L"/?";
        fake.exeBaseName = name;
        EXPECT_EQ(RunMain(fake).back(), UsageBox(std::string(name.begin(), name.end())));
    }

    FakePlatform unreadable;
    unreadable.argumentText = L"/?";
    unreadable.failExeBaseName = true;
    Fake() = unreadable;
    EXPECT_THROW(Main(), FatalExit);
    EXPECT_EQ(Fake().calls, Sequence({{"GetExeBaseName()"}})) << "no box before the fatal report";
}

} // namespace
