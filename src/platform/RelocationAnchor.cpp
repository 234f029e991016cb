// One absolute address in the 64-bit program, so that its image carries a base
// relocation directory. Windows moves an image to a random base (ASLR) only
// when it has relocation data, whatever its header asks for; an image without
// any is loaded at its preferred base. x64 code reaches everything relative to
// the instruction pointer, so without this entry the linker finds nothing to
// fix up and writes no directory at all. The i386 program has many absolute
// addresses and does without it.

#include <windows.h>

extern "C" void ProgramEntry();

// Kept by the link (--require-defined), never read.
extern "C" const void* const RelocationAnchor = reinterpret_cast<const void*>(&ProgramEntry);
