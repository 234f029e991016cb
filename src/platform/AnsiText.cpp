// ANSI <-> UTF-16 conversion with the system code page (CP_ACP, no flags).

#include "platform/AnsiText.h"

#include <limits.h>

#include "platform/Memory.h"

size_t TextLength(const char* text)
{
    size_t length = 0;
    while (text[length] != '\0')
        ++length;
    return length;
}

WideText AnsiToWide(const char* text)
{
    WideText wide = { nullptr, 0 };
    size_t bytes = TextLength(text);
    if (bytes > INT_MAX)
        return wide;

    int units = 0;
    if (bytes > 0) {
        units = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(bytes), nullptr, 0);
        if (units <= 0)
            return wide;
    }
    wide.Units = static_cast<WCHAR*>(AllocateMemory((static_cast<size_t>(units) + 1) * sizeof(WCHAR)));
    if (wide.Units == nullptr)
        return wide;
    // A conversion that fails after the size was known leaves the block
    // unwritten: no text at all is safer than whatever the block held.
    if (units > 0 && MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(bytes), wide.Units, units) != units) {
        FreeMemory(wide.Units);
        wide.Units = nullptr;
        return wide;
    }
    wide.Units[units] = 0;
    wide.Length = static_cast<size_t>(units);
    return wide;
}

const char* WideToAnsi(const WCHAR* units, size_t length, AnsiBuffer* buffer)
{
    if (length > INT_MAX)
        return nullptr;

    int bytes = 0;
    if (length > 0) {
        bytes = WideCharToMultiByte(CP_ACP, 0, units, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
        if (bytes <= 0)
            return nullptr;
    }
    size_t needed = static_cast<size_t>(bytes) + 1;
    if (buffer->Capacity < needed) {
        // The old bytes are not needed: every conversion overwrites them.
        FreeMemory(buffer->Bytes);
        buffer->Bytes = static_cast<char*>(AllocateMemory(needed));
        buffer->Capacity = buffer->Bytes != nullptr ? needed : 0;
        if (buffer->Bytes == nullptr)
            return nullptr;
    }
    if (bytes > 0 && WideCharToMultiByte(CP_ACP, 0, units, static_cast<int>(length), buffer->Bytes, bytes, nullptr,
                                         nullptr) != bytes)
        return nullptr;  // the buffer holds the last token, or nothing
    buffer->Bytes[bytes] = '\0';
    return buffer->Bytes;
}
