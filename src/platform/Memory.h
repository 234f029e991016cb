// Memory for texts whose size is known only at run time, from the process heap.
#pragma once

#include <stddef.h>
#include <windows.h>

// A block of `bytes`, or null when the heap cannot give it.
void* AllocateMemory(size_t bytes);

// Gives a block of AllocateMemory back; null does nothing.
void FreeMemory(void* block);
