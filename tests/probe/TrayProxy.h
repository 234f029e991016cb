// A stand-in for the shell's answers to Shell_NotifyIcon (TrayProxy.cpp).
#pragma once

// tray-proxy <lost-answers> <quiet-ms> <ms>: puts a window of the taskbar's
// class "Shell_TrayWnd" in front of the real taskbar, where Shell_NotifyIcon
// finds it first, and prints "ready=1". It hands every request it gets on to
// the real notification area, which carries it out as always, and answers
// the caller with the real result, except the first <lost-answers> requests
// from ovq's window: those it answers with failure. That is what a program
// meets on Windows when the shell is too busy to answer within Shell_NotifyIcon's
// fixed wait, and carries the request out a moment later all the same.
// Every request is printed as it comes (op, window, identifier, whether it
// came from ovq's window, the real result, the answer, ms since ready). It
// ends, taking its window away, once ovq's icon has been added with success
// and <quiet-ms> have passed without a request from ovq (settled=1, exit 0),
// or after <ms> in all (settled=0, exit 1).
int cmdTrayProxy(int argc, char** argv);
