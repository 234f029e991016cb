// The package's custom actions, the exports of endcopy.dll (EndCopy.cpp).
#pragma once

#include <windows.h>
#include <msi.h>

extern "C" {
UINT WINAPI EndRunningCopies(MSIHANDLE install);
UINT WINAPI StartEndedCopies(MSIHANDLE install);
UINT WINAPI RestoreEndedCopies(MSIHANDLE install);
}
