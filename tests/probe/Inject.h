// Texts delivered to ovq's window from inside ovq's own process, and what only
// that process can tell.
//
// Wine copies a WM_SETTEXT sent from another process onto the receiving thread's
// stack, so texts of about a mebibyte or more never arrive that way, and a null
// lParam does not cross processes at all. These commands write the text and a few
// bytes of x86 code into ovq's process and start them there with
// CreateRemoteThread, so the window procedure gets an ordinary same-process
// SendMessageA(hwnd, WM_SETTEXT, 0, text).
#pragma once

#include <windows.h>

// inject-settext-size <bytes> [tail]: a generated text of exactly <bytes> bytes
// (zero not counted): "ovq", filler words (ASCII and code page 932 Japanese,
// none of them a command) and, when given, a blank and <tail> as its last word.
int cmdInjectSetTextSize(unsigned long bytes, const char* tail);

// inject-settext-null: WM_SETTEXT with a null lParam.
int cmdInjectSetTextNull();

// inject-load <dll>: LoadLibraryA(dll) by a thread started inside ovq's process
// (the path as ovq's process reads it); loaded=1 when it returned a module.
int cmdInjectLoad(const char* path);

// inside-info: ovq's ANSI and OEM code pages (GetACP, GetOEMCP), asked by a
// thread started inside ovq's process. (Its DPI awareness cannot be told this
// way under Wine 8, which answers per-monitor for every process, with a
// manifest or without.)
int cmdInsideInfo();

// menu-texts: with ovq's tray menu open (its "#32768" window given), the number
// of items and the text of each command (202, 201, 200) as the menu holds it,
// UTF-16 (GetMenuStringW inside ovq's process), which is what the menu shows.
int cmdMenuTexts(HWND menuWindow);
