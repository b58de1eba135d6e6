#ifndef OSTREL_SERVICE_INSTALL_H
#define OSTREL_SERVICE_INSTALL_H

/// The "install" command: registers this executable as an automatically
/// started service, stores argv[2] onward, blank-joined, as its "Options"
/// value, and then registers the executable as its event source's message
/// file. Talks to the user on standard output only.
void InstallService(int argc, char** argv);

/// The "remove" command: stops the service when it runs, waiting for it,
/// deletes it and then its event source's registration. Further arguments are
/// ignored.
void RemoveService();

#endif
