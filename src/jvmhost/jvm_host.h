#ifndef OSTREL_JVMHOST_JVM_HOST_H
#define OSTREL_JVMHOST_JVM_HOST_H

#include <windows.h>

#include <cstddef>

/// Runs the hosted Java application from the launch entries: reports the start,
/// loads and creates the VM, calls the application's main and waits for a stop
/// request. Returns after the stop, or at once when the start cannot go on. The
/// entries must stay valid until it returns (the working directory points into
/// them). Once per process, on the run thread.
void RunHost(std::size_t count, const char* const* entries);

/// The execute command's run: RunHost, then the host's end of a console run,
/// which a console close waits for before it lets the process end.
void RunConsoleHost(std::size_t count, const char* const* entries);

/// Requests the stop: tells the application when it registered a receiver,
/// ends the application when it runs (see process_end.h) and releases the run's
/// wait. Any thread, any moment, any number of times: only the first request
/// acts, and one that comes after the run ended, or once the process's end is
/// claimed, does nothing. Returns at once.
void ShutdownHost();

/// The same for a request the caller has taken already (TakeTheStop): the
/// service control handler reports STOP_PENDING in between.
void CarryOutShutdown();

/// The console control handler, registered once the application has started.
BOOL WINAPI HostConsoleHandler(DWORD event);

#endif
