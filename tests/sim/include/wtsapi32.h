// Simulated Windows layer: the part of <wtsapi32.h> that the installer's
// custom actions use.
#pragma once

#include <windows.h>

BOOL WINAPI WTSQueryUserToken(DWORD session, PHANDLE token);
