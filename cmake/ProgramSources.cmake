# The program's sources, relative to the repository root; the same list builds
# the Windows program, the host tests and the fuzz target.
set(OVQ_SOURCES
    src/app/Main.cpp
    src/app/CommandLine.cpp
    src/app/WindowProc.cpp
    src/app/MessageHandlers.cpp
    src/command/ParseCommandText.cpp
    src/command/ExecuteCommand.cpp
    src/tray/TrayMenu.cpp
    src/tray/TrayIcon.cpp
    src/tray/VersionBox.cpp
    src/idle/KeepAwake.cpp
    src/platform/AnsiText.cpp
    src/platform/Memory.cpp
)

# Only in the Windows program, which links no C runtime: where the process
# starts, and the memcpy and memset that compilers emit calls to.
set(OVQ_WIN32_ONLY_SOURCES
    src/app/ProgramEntry.cpp
    src/platform/MemoryFunctions.cpp
)

# Only in the 64-bit Windows program: an absolute address that gives its
# image the base relocation directory ASLR needs.
set(OVQ_WIN64_ONLY_SOURCES
    src/platform/RelocationAnchor.cpp
)
