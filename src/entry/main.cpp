// The command table: only the first argument counts.
#include <windows.h>

#include "entry/console_output.h"
#include "entry/names.h"
#include "entry/reporting.h"
#include "jvmhost/jvm_host.h"
#include "launch/text_compare.h"

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
  RunHost(static_cast<std::size_t>(argc - 2), argv + 2);
  MarkRunEnded();
  return 0;
}

int NotAvailable(const char* what) {
  ConsolePrint("%s is not available in this build.\n", what);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc <= 1) {
    return NotAvailable("The service run");
  }
  const char* command = argv[1];
  if (EqualsIgnoreAsciiCase(command, "install")) {
    return NotAvailable("\"install\"");
  }
  if (EqualsIgnoreAsciiCase(command, "remove")) {
    return NotAvailable("\"remove\"");
  }
  if (EqualsIgnoreAsciiCase(command, "execute")) {
    return RunExecute(argc, argv);
  }
  ConsolePrint("\nOption error...\n");
  return 0;
}
