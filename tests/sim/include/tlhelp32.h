// Simulated Windows layer: the part of <tlhelp32.h> that the installer's
// custom actions use.
#pragma once

#include <windows.h>

#define TH32CS_SNAPPROCESS 0x00000002u

typedef struct tagPROCESSENTRY32 {
    DWORD dwSize;
    DWORD cntUsage;
    DWORD th32ProcessID;
    ULONG_PTR th32DefaultHeapID;
    DWORD th32ModuleID;
    DWORD cntThreads;
    DWORD th32ParentProcessID;
    LONG pcPriClassBase;
    DWORD dwFlags;
    CHAR szExeFile[MAX_PATH];
} PROCESSENTRY32;

HANDLE WINAPI CreateToolhelp32Snapshot(DWORD flags, DWORD processId);
BOOL WINAPI Process32First(HANDLE snapshot, PROCESSENTRY32* entry);
BOOL WINAPI Process32Next(HANDLE snapshot, PROCESSENTRY32* entry);
