// Whether the copy of ovq that a launcher started has finished its start-up,
// for ./run.sh.
#pragma once

#include <windows.h>

// wait-started <ms> <NAME=VALUE> [arguments...]: polls until ovq's window
//   - belongs to the process whose environment holds the entry NAME=VALUE (the
//     launcher starts its copy with an entry no other process has),
//   - has a process that waits for input (WaitForInputIdle) and still runs,
//   - and has the title that the copy's own arguments give once they have run:
//     "ovq" followed by each argument after one blank, made by ovq's own code
//     from this probe's command line, whose words after the three above are the
//     arguments the copy was started with.
// A copy whose arguments end it (-x) never shows that title: its window is gone
// first. Prints started=1 and exits 0 when all holds, else the last state seen
// and exits 1 at the deadline; exits 2 when NAME=VALUE is not one plain word.
int cmdWaitStarted(DWORD ms, int argc, char** argv);
