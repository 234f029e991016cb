// Simulated Windows layer: the part of <userenv.h> that the installer's
// custom actions use.
#pragma once

#include <windows.h>

BOOL WINAPI CreateEnvironmentBlock(LPVOID* environment, HANDLE token, BOOL inherit);
BOOL WINAPI DestroyEnvironmentBlock(LPVOID environment);
