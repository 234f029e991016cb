// Conversions between ANSI text in the system code page and UTF-16, with
// buffers sized to the text (there is no length limit).
#pragma once

#include <stddef.h>
#include <windows.h>

struct WideText {
    WCHAR* Units;   // from AllocateMemory, zero-terminated; null when out of memory
    size_t Length;  // code units, without the terminating zero
};

// The length in bytes of a zero-terminated ANSI text.
size_t TextLength(const char* text);

// Converts a zero-terminated ANSI text. The caller frees Units with FreeMemory.
WideText AnsiToWide(const char* text);

// A growing buffer for ANSI text, reused from one conversion to the next.
struct AnsiBuffer {
    char* Bytes;
    size_t Capacity;
};

// Converts length UTF-16 units into buffer as a zero-terminated ANSI text and
// returns it; null when out of memory. The caller frees buffer->Bytes with
// FreeMemory.
const char* WideToAnsi(const WCHAR* units, size_t length, AnsiBuffer* buffer);
