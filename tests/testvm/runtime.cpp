// Stands in for a Java runtime's own C library (msvcr71.dll and the like):
// one export, which the runtime-importing test VM calls when it loads.
#include <windows.h>

extern "C" __declspec(dllexport) int testvm_runtime_marker() { return 71; }
