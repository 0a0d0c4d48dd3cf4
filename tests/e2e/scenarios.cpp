// End-to-end scenarios: the real Narvelox.exe, with its real ten-second delay, started with
// exact command lines under Wine and watched from outside (tools/standin/Watch.h), with
// standin.exe as FRAV.EXE.
//
//   e2e_scenarios.exe LAUNCHER STANDIN WORKDIR GROUP
//
// Runs the cases of GROUP, each in a folder of its own under WORKDIR (made empty by the
// caller): the launcher copied into CASE\exe, started in CASE\cwd, the game logging to
// CASE\game.log. Prints PASS or FAIL per case; the exit code is the number of failures.
//
// The cursor confinement is one setting for the whole Wine session, and a message box taking
// the foreground resets it. So the cases that watch it, and those that read a box off the
// screen, run one at a time; the cases that only check which game was started run in the
// background meanwhile.
#include "Watch.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {

enum class Expect { UsageBox, ErrorBox, ClipOnly, Game, GameStarted };
enum class Place { Nowhere, BesideExe, CurrentDir }; // where FRAV.EXE is put

struct Case {
    const char* group;
    const char* name;
    const wchar_t* text; // the argument text after the launcher's quoted name
    Expect expect;
    Place game = Place::BesideExe;
    const wchar_t* exeName = L"Narvelox.exe";
    int gameMs = 1000; // how long the stand-in game runs
};

const Case kCases[] = {
    {"boxes-and-starts", "usage", L"/?", Expect::UsageBox},
    {"boxes-and-starts", "usage-spaced", L"  /?  ", Expect::UsageBox},
    {"boxes-and-starts", "usage-renamed", L"/?", Expect::UsageBox, Place::BesideExe,
     L"my.old launcher.exe"},
    {"boxes-and-starts", "no-game-anywhere", L"", Expect::ErrorBox, Place::Nowhere},
    {"boxes-and-starts", "text-norun-tab", L"/norun\t", Expect::GameStarted},
    {"boxes-and-starts", "text-norun-usage", L"/norun /?", Expect::GameStarted},
    {"boxes-and-starts", "text-dash-norun", L"-norun", Expect::GameStarted},
    {"boxes-and-starts", "text-x", L"x", Expect::GameStarted},
    {"boxes-and-starts", "game-beside-exe", L"", Expect::GameStarted, Place::BesideExe},
    {"boxes-and-starts", "game-in-current-dir", L"", Expect::GameStarted, Place::CurrentDir},
    {"clip-only", "norun", L"/norun", Expect::ClipOnly},
    {"clip-only", "norun-spaced", L" /NoRun ", Expect::ClipOnly},
    {"clip-only", "norun-capitals", L"/NORUN", Expect::ClipOnly},
    {"game", "game-runs-12s", L"", Expect::Game, Place::BesideExe, L"Narvelox.exe", 12000},
    {"game", "game-ends-at-2s", L"", Expect::Game, Place::BesideExe, L"Narvelox.exe", 2000},
};

// Seconds from the launcher's start.
constexpr double kDelay = 10;  // the launcher's wait before it confines the cursor
constexpr double kSlack = 0.5; // how much later than due a step may come
constexpr double kAtOnce = 3;  // soon enough for a box: well before a misplaced delay would end
constexpr RECT kPresetClip{100, 100, 300, 200}; // set before a run, to see it replaced
constexpr RECT kGameExitClip{200, 150, 400, 300};

struct Paths {
    std::wstring launcher, standin, work;
};

struct GameLog {
    bool found = false;
    std::string commandLine;
    double startMs = 0, exitMs = 0;
};

GameLog ReadGameLog(const std::wstring& path)
{
    GameLog log;
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return log;
    }
    std::string text(1 << 20, '\0');
    DWORD size = 0;
    ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &size, nullptr);
    CloseHandle(file);
    text.resize(size);
    log.found = true;
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find('\n', at);
        const std::string line = text.substr(at, end - at);
        at = end == std::string::npos ? text.size() : end + 1;
        const size_t kind = line.find(' ') + 1;
        if (line.compare(kind, 8, "cmdline ") == 0) {
            log.commandLine = line.substr(kind + 8);
        } else if (line.compare(kind, 5, "start") == 0) {
            log.startMs = std::strtod(line.c_str(), nullptr);
        } else if (line.compare(kind, 4, "exit") == 0) {
            log.exitMs = std::strtod(line.c_str(), nullptr);
        }
    }
    return log;
}

// The launcher's environment, which it hands on to the game: ours plus the game's settings.
std::wstring Environment(const std::wstring& logPath, int gameMs)
{
    std::wstring block;
    const auto add = [&block](const std::wstring& setting) { block.append(setting) += L'\0'; };
    const wchar_t* own = GetEnvironmentStringsW();
    for (const wchar_t* setting = own; *setting; setting += wcslen(setting) + 1) {
        if (wcsncmp(setting, L"STANDIN_", 8) != 0) {
            add(setting);
        }
    }
    FreeEnvironmentStringsW(const_cast<wchar_t*>(own));
    add(L"STANDIN_LOG=" + logPath);
    add(L"STANDIN_RUN_MS=" + std::to_wstring(gameMs));
    const RECT& c = kGameExitClip;
    add(L"STANDIN_EXIT_CLIP=" + std::to_wstring(c.left) + L"," + std::to_wstring(c.top) + L"," +
        std::to_wstring(c.right) + L"," + std::to_wstring(c.bottom));
    return block + L'\0';
}

// What a scenario saw of a message box of the launcher's.
struct BoxSeen {
    HWND box = nullptr;
    double lookedMs = 0, foundMs = 0, pressedMs = 0;
    std::wstring text;
    const wchar_t* icon = nullptr;
    int buttons = 0;
    bool hasOk = false, launcherWaiting = false;
};

// Finds the launcher's box, lets it stand half a second (it must keep the launcher waiting,
// and be painted before its icon is read), reads it and presses OK.
void HandleBox(const Watched& watched, BoxSeen& seen)
{
    const double now = NowMs();
    if (seen.pressedMs != 0) {
        return;
    }
    if (seen.box == nullptr) {
        // Going through all windows every poll would load Wine with a dozen watchers at once.
        if (now - seen.lookedMs < 20) {
            return;
        }
        seen.lookedMs = now;
        seen.box = FindBox(watched.pid);
        seen.foundMs = now;
        return;
    }
    if (now - seen.foundMs < 500) {
        return;
    }
    seen.text = BoxText(seen.box);
    seen.icon = BoxIcon(seen.box);
    seen.buttons = BoxButtons(seen.box, &seen.hasOk);
    seen.launcherWaiting = WaitForSingleObject(watched.process, 0) == WAIT_TIMEOUT;
    PressOk(seen.box);
    seen.pressedMs = NowMs();
}

class Report {
public:
    void Require(bool ok, const char* format, ...) __attribute__((format(printf, 3, 4)))
    {
        if (ok) {
            return;
        }
        char failure[256];
        va_list args;
        va_start(args, format);
        vsnprintf(failure, sizeof failure, format, args);
        va_end(args);
        failures += "    ";
        failures += failure;
        failures += "\n";
    }
    std::string failures;
};

std::string RunCase(const Case& c, const Paths& paths)
{
    const std::wstring dir = paths.work + L"\\" + std::wstring(c.name, c.name + strlen(c.name));
    const std::wstring exeDir = dir + L"\\exe", cwd = dir + L"\\cwd", log = dir + L"\\game.log";
    const std::wstring exe = exeDir + L"\\" + c.exeName;
    CreateDirectoryW(dir.c_str(), nullptr);
    CreateDirectoryW(exeDir.c_str(), nullptr);
    CreateDirectoryW(cwd.c_str(), nullptr);
    CopyFileW(paths.launcher.c_str(), exe.c_str(), FALSE);
    if (c.game != Place::Nowhere) {
        const std::wstring gameDir = c.game == Place::BesideExe ? exeDir : cwd;
        CopyFileW(paths.standin.c_str(), (gameDir + L"\\FRAV.EXE").c_str(), FALSE);
    }

    const bool watchesCursor = c.expect == Expect::ClipOnly || c.expect == Expect::Game;
    if (watchesCursor) {
        ClipCursor(&kPresetClip);
    }
    BoxSeen box;
    Watched run;
    const std::wstring environment = Environment(log, c.gameMs);
    const bool started = RunAndWatch(
        L"\"" + exe + L"\" " + c.text, cwd.c_str(), environment.c_str(), run,
        [&box](const Watched& w) { HandleBox(w, box); }, 300, 20000);
    const GameLog game = ReadGameLog(log);

    Report report;
    report.Require(started, "the launcher did not start");
    std::vector<Event> clips;
    double startMs = 0, endMs = 0;
    DWORD exitCode = 0;
    for (const Event& event : run.events) {
        if (event.kind == Event::Clip) {
            clips.push_back(event);
        } else {
            (event.kind == Event::Start ? startMs : endMs) = event.ms;
            exitCode = event.value;
        }
    }
    report.Require(endMs != 0 && exitCode != kOverstayed, "the launcher did not end in 20 s");
    const auto at = [startMs](double ms) { return (ms - startMs) / 1000; };
    const auto wentThrough = [&](const std::vector<RECT>& expected) {
        bool same = clips.size() == expected.size();
        for (size_t i = 0; same && i < clips.size(); ++i) {
            same = SameRect(clips[i].clip, expected[i]);
        }
        report.Require(same, "the confinement went through %d states, not %d",
                       static_cast<int>(clips.size()), static_cast<int>(expected.size()));
        return same;
    };
    const RECT desktop = DesktopRect();
    const bool boxExpected = c.expect == Expect::UsageBox || c.expect == Expect::ErrorBox;
    report.Require(boxExpected || box.box == nullptr, "a box came: \"%s\"", Utf8(box.text).c_str());
    report.Require(boxExpected || c.expect == Expect::ClipOnly || game.commandLine == "FRAV.EXE",
                   "game command line \"%s\"", game.commandLine.c_str());

    switch (c.expect) {
    case Expect::UsageBox:
    case Expect::ErrorBox: {
        const bool usage = c.expect == Expect::UsageBox;
        std::wstring base = c.exeName;
        base.resize(base.rfind(L'.'));
        const std::wstring text = usage ? L"Usage: \r\n\r\n" + base +
                                              L"[.EXE] [/NoRun]\r\n\r\n/NoRun - Clip "
                                              L"screen but don't start game."
                                        : L"Can't start FRAV game.";
        report.Require(box.box != nullptr, "no box captioned \"Zintrok - Narvelox\"");
        report.Require(box.text == text, "box text \"%s\"", Utf8(box.text).c_str());
        report.Require(box.icon == (usage ? IDI_ASTERISK : IDI_HAND), "box shows another icon");
        report.Require(box.buttons == 1 && box.hasOk, "box has %d buttons, OK %s", box.buttons,
                       box.hasOk ? "among them" : "not");
        report.Require(at(box.foundMs) < kAtOnce, "the box came at %.3f s", at(box.foundMs));
        report.Require(box.launcherWaiting, "the launcher did not wait for the box");
        report.Require(at(endMs) - at(box.pressedMs) < kSlack, "the launcher ended %.3f s after OK",
                       at(endMs) - at(box.pressedMs));
        report.Require(!game.found, "a game was started");
        break;
    }
    case Expect::ClipOnly:
        report.Require(!game.found, "a game was started");
        if (wentThrough({kPresetClip, desktop})) {
            const double confined = at(clips[1].ms);
            report.Require(confined >= kDelay && confined < kDelay + kSlack, "confined at %.3f s",
                           confined);
            report.Require(endMs >= clips[1].ms && at(endMs) < confined + kSlack,
                           "the launcher ended at %.3f s", at(endMs));
        }
        break;
    case Expect::Game: {
        // The stand-in confines the cursor itself just before it ends, so a lift shows.
        const bool endsFirst = c.gameMs < kDelay * 1000;
        const bool same = wentThrough(
            endsFirst ? std::vector<RECT>{kPresetClip, kGameExitClip, desktop}
                      : std::vector<RECT>{kPresetClip, desktop, kGameExitClip, desktop});
        report.Require(game.exitMs != 0, "the game did not log its end");
        if (same && game.exitMs != 0) {
            const double confined = at(clips[endsFirst ? 2 : 1].ms);
            const double lifted = at(clips.back().ms);
            const double due = std::max(at(game.exitMs), kDelay); // for the lift and the end
            report.Require(confined >= kDelay && confined < kDelay + kSlack, "confined at %.3f s",
                           confined);
            report.Require(lifted >= at(game.exitMs) && lifted < due + kSlack,
                           "lifted at %.3f s, the game ended at %.3f s", lifted, at(game.exitMs));
            report.Require(endMs >= clips.back().ms && at(endMs) < due + kSlack,
                           "the launcher ended at %.3f s", at(endMs));
        }
        break;
    }
    case Expect::GameStarted:
        report.Require(at(endMs) >= kDelay && endMs >= game.exitMs,
                       "the launcher ended at %.3f s, the game at %.3f s", at(endMs),
                       at(game.exitMs));
        break;
    }

    // The timeline, in seconds from the launcher's start, whether the case passed or not.
    std::string result = (report.failures.empty() ? "PASS " : "FAIL ") + std::string(c.name) +
                         "\n" + report.failures;
    const auto line = [&result](double s, const std::string& what) {
        char time[32];
        snprintf(time, sizeof time, "%10.3f s  ", s);
        result += time + what + "\n";
    };
    for (const Event& event : run.events) {
        const std::string text = FormatEvent(event);
        line(at(event.ms), text.substr(text.find(' ') + 1));
    }
    if (game.found) {
        line(at(game.startMs), "game start, command line \"" + game.commandLine + "\"");
        line(at(game.exitMs), "game exit");
    }
    CloseHandle(run.process);
    return result;
}

struct Job {
    const Case* scenario;
    const Paths* paths;
    std::string result;
};

DWORD WINAPI RunJob(void* job)
{
    auto& j = *static_cast<Job*>(job);
    j.result = RunCase(*j.scenario, *j.paths);
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 5) {
        std::fputs("usage: e2e_scenarios.exe LAUNCHER STANDIN WORKDIR GROUP\n", stderr);
        return 100;
    }
    const Paths paths{argv[1], argv[2], argv[3]};
    const std::string group = Utf8(argv[4]);
    std::vector<Job> jobs;
    for (const Case& c : kCases) {
        if (group == c.group) {
            jobs.push_back({&c, &paths, {}});
        }
    }
    std::vector<HANDLE> background;
    for (Job& job : jobs) {
        if (job.scenario->expect == Expect::GameStarted) {
            background.push_back(CreateThread(nullptr, 0, RunJob, &job, 0, nullptr));
        }
    }
    for (Job& job : jobs) {
        if (job.scenario->expect != Expect::GameStarted) {
            RunJob(&job);
        }
    }
    if (!background.empty()) {
        WaitForMultipleObjects(static_cast<DWORD>(background.size()), background.data(), TRUE,
                               INFINITE);
    }
    int failures = 0;
    for (const Job& job : jobs) {
        std::printf("%s", job.result.c_str());
        failures += job.result.compare(0, 4, "FAIL") == 0;
    }
    std::printf("%d of %d cases failed\n", failures, static_cast<int>(jobs.size()));
    return jobs.empty() ? 100 : failures;
}
