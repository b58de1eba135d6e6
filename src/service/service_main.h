#ifndef OSTREL_SERVICE_SERVICE_MAIN_H
#define OSTREL_SERVICE_SERVICE_MAIN_H

#include <windows.h>

/// The service entry, called by the dispatcher on a thread of its own: reports
/// the start, runs the host with the stored launch options until it is stopped,
/// and reports STOPPED with the last error code. The start parameters of the
/// service control manager are ignored.
void WINAPI HostServiceMain(DWORD argc, LPSTR* argv);

/// The service control handler, on the dispatcher thread: the stop and the
/// shutdown controls stop the host; every other control re-reports the current
/// state. Returns at once.
void WINAPI HostCtrlHandler(DWORD control);

#endif
