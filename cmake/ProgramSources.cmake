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
)
