#ifndef OSTREL_SERVICE_INSTALL_H
#define OSTREL_SERVICE_INSTALL_H

/// The "install" command: registers this executable as an automatically
/// started service and stores argv[2] onward, blank-joined, as its "Options"
/// value. Talks to the user on standard output only.
void InstallService(int argc, char** argv);

/// The "remove" command: stops the service when it runs, waiting for it, and
/// deletes it. Further arguments are ignored.
void RemoveService();

#endif
