// The launcher's own logic: read the argument text, then show the usage box, or confine the
// cursor to the desktop (clip-only run), or start the game and confine the cursor until it ends.
#pragma once

#include <string_view>

enum class RunKind { Usage, ClipOnly, Launch };

// "/?" and "/norun" count only as the whole text, after trimming spaces and folding A-Z to
// a-z; any other text, the empty one included, starts the game.
RunKind ClassifyArgumentText(std::wstring_view argumentText);

// Called once by the platform's start-up; the program ends when it returns.
void Main();

// Shows how to call the program, naming it as its executable is called on disk.
void ShowUsage();
