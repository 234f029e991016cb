// Carries out one token of a command text.
#pragma once

// Returns true only for -x, which has destroyed the main window: the caller
// must process nothing more of the current text.
bool ExecuteCommand(const char* token);
