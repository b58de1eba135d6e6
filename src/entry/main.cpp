// The command table: only the first argument counts.
#include <windows.h>

#include "entry/console_output.h"
#include "entry/names.h"
#include "entry/reporting.h"
#include "entry/usage.h"
#include "jvmhost/jvm_host.h"
#include "jvmhost/process_end.h"
#include "launch/text_compare.h"
#include "service/install.h"
#include "service/service_main.h"

#ifdef __MINGW32__
// The command line is split by the platform's rules only: no wildcard expansion.
extern "C" {
int _dowildcard = 0;
}
#endif

namespace {

int RunExecute(int argc, char** argv) {
  EnterConsoleMode();
  ConsolePrint("Running %s.\n", kDisplayName);
  RunConsoleHost(static_cast<std::size_t>(argc - 2), argv + 2);
  return 0;
}

// Blocks on the main thread for the life of the service; fails at once when
// the process was not started by the service control manager.
int RunServiceDispatcher() {
  char service_name[sizeof(kServiceName)];
  for (std::size_t i = 0; i < sizeof(kServiceName); ++i) {
    service_name[i] = kServiceName[i];
  }
  const SERVICE_TABLE_ENTRYA table[] = {{service_name, HostServiceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherA(table)) {
    ConsolePrint("ERROR : StartServiceCtrlDispatcher\n");
    ReportError("StartServiceCtrlDispatcher");
    return 1;
  }
  return 0;
}

int Dispatch(int argc, char** argv) {
  if (argc <= 1) {
    return RunServiceDispatcher();
  }
  const char* command = argv[1];
  if (EqualsIgnoreAsciiCase(command, "install")) {
    InstallService(argc, argv);
    return 0;
  }
  if (EqualsIgnoreAsciiCase(command, "remove")) {
    RemoveService();
    return 0;
  }
  if (EqualsIgnoreAsciiCase(command, "execute")) {
    return RunExecute(argc, argv);
  }
  ConsolePrint("\nOption error...\n");
  PrintUsage();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // A VM that ended the process meanwhile (System.exit on a thread of its own)
  // ends it with its own code, not with ours.
  return MainExitCode(Dispatch(argc, argv));
}
