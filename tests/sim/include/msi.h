// Simulated Windows layer: the part of <msi.h> that the installer's custom
// actions use.
#pragma once

#include <windows.h>

typedef unsigned long MSIHANDLE;

typedef enum tagINSTALLMESSAGE {
    INSTALLMESSAGE_INFO = 0x04000000,
} INSTALLMESSAGE;
