// Reading a shortcut (.lnk) back as the shell reads it, for the release test
// of the installer packages (tests/release/check-install.sh).
#pragma once

// shortcut-info <file.lnk>: the shortcut's target, arguments, working
// directory, icon location and index, description and show command, read
// through IShellLinkW, each printed in UTF-8.
int cmdShortcutInfo(const char* path);
