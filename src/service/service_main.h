#ifndef OSTREL_SERVICE_SERVICE_MAIN_H
#define OSTREL_SERVICE_SERVICE_MAIN_H

#include <windows.h>

/// The service entry, called by the dispatcher on a thread of its own: reports
/// the start, runs the host with the stored launch options until it is stopped,
/// and reports STOPPED with the last error code. The start parameters of the
/// service control manager are ignored.
void WINAPI HostServiceMain(DWORD argc, LPSTR* argv);

/// The service control handler (a HandlerEx), on the dispatcher thread: the
/// stop, the shutdown and the preshutdown controls stop the host, the first of
/// them alone; every other control re-reports the current state. Returns at
/// once, NO_ERROR for every control. The event type and data are not used.
DWORD WINAPI HostCtrlHandler(DWORD control, DWORD event_type, LPVOID event_data, LPVOID context);

#endif
