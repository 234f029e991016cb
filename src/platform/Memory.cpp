// The process heap serves every block: it exists before the first line of the
// program runs and needs no set-up, and what is left in it when the process
// ends goes with the process.

#include "platform/Memory.h"

void* AllocateMemory(size_t bytes)
{
    HANDLE heap = GetProcessHeap();
    return heap != nullptr ? HeapAlloc(heap, 0, bytes) : nullptr;
}

void FreeMemory(void* block)
{
    if (block == nullptr)
        return;
    HANDLE heap = GetProcessHeap();
    if (heap != nullptr)
        HeapFree(heap, 0, block);
}
