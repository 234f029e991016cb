// Splits a command text into tokens and runs the commands among them.
#pragma once

#include <stddef.h>
#include <windows.h>

void ParseCommandText(const WCHAR* text, size_t length);
