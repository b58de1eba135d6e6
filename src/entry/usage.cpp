#include "entry/usage.h"

#include "entry/console_output.h"

namespace {

// README.md's "Usage" shows the same block.
constexpr char kUsage[] =
    "Usage:\n"
    "  OstrelServer install [entries]  install the service and store its entries\n"
    "  OstrelServer remove             stop the service if it runs, then remove it\n"
    "  OstrelServer execute [entries]  run the application here until Ctrl-C\n"
    "  OstrelServer                    the service itself, as Windows starts it\n"
    "Entries, in any order:\n"
    "  -D... /D... -X... /X...         a Java VM option, as written (at most 20)\n"
    "  wrkdir=<directory>              the working directory (the first counts)\n"
    "  anything else                   an argument of the application's main\n"
    "The service keeps its entries as one value split at \"|\": install joins its\n"
    "arguments with blanks, so give several entries as one argument:\n"
    "  OstrelServer install \"-Xmx256m|wrkdir=C:\\Program Files\\Ostrel|data.cfg\"\n";

}  // namespace

void PrintUsage() { ConsolePrint("%s", kUsage); }
