// Simulated Windows layer: the part of <shellapi.h> that the program uses.
#pragma once

#include <windows.h>

#define NIM_ADD 0x00000000u
#define NIM_MODIFY 0x00000001u
#define NIM_DELETE 0x00000002u
#define NIF_MESSAGE 0x00000001u
#define NIF_ICON 0x00000002u
#define NIF_TIP 0x00000004u

typedef struct _NOTIFYICONDATAA {
    DWORD cbSize;
    HWND hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    HICON hIcon;
    CHAR szTip[128];
    DWORD dwState;
    DWORD dwStateMask;
    CHAR szInfo[256];
    UINT uTimeout;
    CHAR szInfoTitle[64];
    DWORD dwInfoFlags;
} NOTIFYICONDATAA, *PNOTIFYICONDATAA;

// The size of the first version on 32-bit Windows: six 4-byte fields and a 64-byte tip.
#define NOTIFYICONDATAA_V1_SIZE 88

BOOL WINAPI Shell_NotifyIconA(DWORD message, PNOTIFYICONDATAA data);
