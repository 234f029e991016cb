// Commands that put ovq under load: launches racing each other, storms of
// "TaskbarCreated", long series of hand-off texts, and the process's memory and
// handle figures read from outside (Stress.cpp). Each takes the arguments after
// its name and returns kUsage when they do not fit.
#pragma once

// race <n> <ms> [--tag] [--idle <idle-ms>] <exe> [args...]: starts n copies of
// `exe args` suspended in a kill-on-close job and resumes them back to back;
// waits (up to ms) until at most one still runs and it has its window; reports
// every exit code, the windows of ovq's class and their processes, and the
// resident copy's title; then a later `exe -x` and the exit codes of it and of
// the resident copy. --tag gives copy i the extra last argument "copy<i>", so
// each hands over a text of its own; --idle watches the idle time for up to
// idle-ms before the -x (stopping at two advances): advances mean the resident
// copy's permit switch is off. Copies still running at the end die with the job.
int cmdRace(int argc, char** argv);

// exit-and-launch <ms> <idle-ms> [--hold <hold-ms>] <exe> [args...]: starts `exe`
// and waits until it takes messages, makes the launch `exe args` suspended,
// hands `exe -x` to the running copy and resumes the launch the moment the
// window is gone, while the copy is still ending. --hold suspends the shell's
// thread for hold-ms from before the -x, so the ending copy waits in deleting
// its tray icon. Reports the exit codes of the -x and of the ended copy, how
// long that one ran on, whether the launch runs on with the one window of ovq's
// class, its title and (for up to idle-ms, stopping at two advances) the idle
// time's advances; then ends it with another `exe -x`. All run in a
// kill-on-close job.
int cmdExitAndLaunch(int argc, char** argv);

// taskbar-storm <n> [--helper]: sends "TaskbarCreated" n times in a row to ovq's
// window, each synchronously. With --helper a grey icon of the probe's own stays
// in the notification area for the storm, so the area never empties.
int cmdTaskbarStorm(int argc, char** argv);

// settext-series <from> <to>: sends the hand-off texts number from to to-1 to
// ovq's window (WM_SETTEXT across processes): even numbers carry -c, odd ones -s,
// among noise words and quotes.
int cmdSetTextSeries(int argc, char** argv);

// proc-usage: ovq's process seen from outside: memory counters, the handle count
// as GetProcessHandleCount gives it and as counted in the system's handle list,
// its threads, and the same two handle counts for the probe itself.
int cmdProcUsage(int argc, char** argv);
