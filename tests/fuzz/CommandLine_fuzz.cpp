// Fuzzes the whole road from a raw command line to the chosen run: cutting the program's
// name, trimming, folding case and classifying. Besides crashes and undefined behaviour it
// checks that only the exact keywords give a run other than a launch.
#include "../FakePlatform.h"
#include "ProcessText.h"
#include "modMain.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// The plain way to say what counts as a keyword, written apart from the code under test: the
// start of the first call each run makes after reading the argument text.
std::string ExpectedFirstCall(std::wstring text)
{
    while (!text.empty() && text.front() == L' ')
        text.erase(text.begin());
    while (!text.empty() && text.back() == L' ')
        text.pop_back();
    for (wchar_t& c : text) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c + (L'a' - L'A'));
    }
    if (text == L"/?") return "GetExeBaseName(";
    if (text == L"/norun") return "Sleep(";
    return "CreateProcessA(";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Two bytes a UTF-16 code unit, as Windows hands the command line over.
    std::wstring commandLine;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        commandLine.push_back(static_cast<wchar_t>(data[i] | data[i + 1] << 8));
    }

    const std::wstring_view argumentText = PlatformOps::ArgumentTextOf(commandLine);
    // The argument text is a tail of the command line that starts with neither blank.
    const bool isTail =
        argumentText.empty() ||
        (argumentText.data() + argumentText.size() == commandLine.data() + commandLine.size() &&
         argumentText.front() != L' ' && argumentText.front() != L'\t');
    Fake() = {};
    Fake().argumentText = argumentText;
    Main();
    if (!isTail ||
        Fake().calls.at(1).rfind(ExpectedFirstCall(std::wstring(argumentText)), 0) != 0) {
        std::abort();
    }
    return 0;
}
