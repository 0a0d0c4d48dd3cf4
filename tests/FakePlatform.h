// A test double of the launcher's platform: it records every call with its arguments, in
// order, as one readable line each, and can be told to fail.
#pragma once

#include "PlatformOps.h"

#include <string>
#include <vector>

struct FakePlatform {
    std::wstring argumentText;
    std::wstring exeBaseName = L"Narvelox";
    PlatformOps::ScreenRect desktop{-1280, 0, 1920, 1080};

    bool failCreateProcess = false;
    bool failGetWindowRect = false;
    bool failExeBaseName = false;

    std::vector<std::string> calls;
};

// The double the platform operations use; tests reset it before each run.
FakePlatform& Fake();

// Thrown where the real platform would end the program with a fatal error report.
struct FatalExit {};
