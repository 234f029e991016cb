// memcpy and memset for the Windows program, which links no C runtime: the
// compiler emits calls to them for CopyMemory, ZeroMemory and structure copies
// even when the code names neither. The stores go through a volatile pointer
// so that no compiler recognises the loops as a copy or a fill and turns them
// into calls of these very functions. The blocks they see are small (the
// largest is the 88-byte icon record), so bytewise is fast enough.

#include <stddef.h>

extern "C" void* memcpy(void* destination, const void* source, size_t count)
{
    volatile unsigned char* to = static_cast<unsigned char*>(destination);
    const unsigned char* from = static_cast<const unsigned char*>(source);
    while (count-- > 0)
        *to++ = *from++;
    return destination;
}

extern "C" void* memset(void* destination, int value, size_t count)
{
    volatile unsigned char* to = static_cast<unsigned char*>(destination);
    while (count-- > 0)
        *to++ = static_cast<unsigned char>(value);
    return destination;
}
