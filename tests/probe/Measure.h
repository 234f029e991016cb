// Measurements for ./bench.sh, taken inside Wine so that the `wine` launcher's
// own start-up is not part of them. The commands that compare two programs run
// them in pairs (bench-startup and bench-handoff in alternating order: A B, B A,
// ...) and print one line per pair ("pair=N ..."), after one uncounted pair
// ("warmup=0 ...") that reads both programs into the file cache; ./bench.sh
// takes the medians. Times come from QueryPerformanceCounter.

#pragma once

// bench-startup <pairs> <exeA> <classA> <exeB> <classB> [<Unix pid>...]: for each
// program of each pair, the time from CreateProcess until a window of the class
// exists (a_window_ms) and until the program's message loop has taken a WM_CLOSE
// posted at that moment and the window is gone (a_ms), both polled every
// millisecond. Before each start it waits until the Linux processes given (the
// shell, the X server, wineserver) are quiet, so that no program's time carries
// the work the one before it left them.
int cmdBenchStartup(unsigned long pairs, const char* exeA, const char* classA, const char* exeB, const char* classB,
                    int watchedCount, char** watchedPids);

// bench-handoff <pairs> <resident class> <command line A> <command line B>
// [<Unix pid>...]: launches that hand "ovq -s" to the resident window of the
// class. For each, the time from CreateProcess until the resident's title reads
// that text (a_text_ms) and until the launch's process has ended (a_ms), and its
// exit code. Before each launch the resident's title is set to a marker that
// holds no command, and the Linux processes given are let become quiet, as in
// bench-startup; the order alternates within the pairs.
int cmdBenchHandoff(unsigned long pairs, const char* residentClass, const char* commandA, const char* commandB,
                    int watchedCount, char** watchedPids);

// bench-memory <rounds> <ms> <exeA> <classA> <exeB> <classB>: both programs
// are started and left running for ms after their windows exist; then the
// memory of each as Wine reports it to another process (GetProcessMemoryInfo:
// PagefileUsage, WorkingSetSize); then both are closed.
int cmdBenchMemory(unsigned long rounds, unsigned long ms, const char* exeA, const char* classA, const char* exeB,
                   const char* classB);

// bench-wait <class> <ms>: polls every 10 ms for a window of the class, hidden
// or not, and prints it and the Windows id of its process.
int cmdBenchWait(const char* windowClass, unsigned long ms);

// bench-close <class>: posts WM_CLOSE to the window of the class; the caller
// waits for the process to end.
int cmdBenchClose(const char* windowClass);
