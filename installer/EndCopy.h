// The package's custom actions, the exports of endcopy.dll (EndCopy.cpp), by
// their plain names.
#pragma once

#include <windows.h>
#include <msi.h>

extern "C" {
__declspec(dllexport) UINT WINAPI EndRunningCopies(MSIHANDLE install);
__declspec(dllexport) UINT WINAPI StartEndedCopies(MSIHANDLE install);
__declspec(dllexport) UINT WINAPI RestoreEndedCopies(MSIHANDLE install);
}
