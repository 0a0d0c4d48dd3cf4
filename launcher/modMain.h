// The launcher's own logic: read the argument text, then show the usage box, or confine the
// cursor to the desktop (clip-only run), or start the game and confine the cursor until it ends.
#pragma once

// Called once by the platform's start-up; the program ends when it returns.
void Main();

// Shows how to call the program, naming it as its executable is called on disk.
void ShowUsage();
