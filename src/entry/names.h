#ifndef OSTREL_ENTRY_NAMES_H
#define OSTREL_ENTRY_NAMES_H

// The service name as a literal, so that the keys below are spelt from it.
#define OSTREL_SERVICE_NAME "OstrelServer"

/// Names the service, the event source, the dispatcher entry and the Parameters key.
constexpr char kServiceName[] = OSTREL_SERVICE_NAME;
/// The name shown to users, in the service list and in console messages.
constexpr char kDisplayName[] = "Ostrel Server";

/// Where the service keeps its launch options, under HKEY_LOCAL_MACHINE: the
/// Parameters subkey of the service's own key.
constexpr char kParametersKey[] = "SYSTEM\\CurrentControlSet\\Services\\" OSTREL_SERVICE_NAME "\\Parameters";
constexpr char kOptionsValueName[] = "Options";

/// The event source's registration, under HKEY_LOCAL_MACHINE: it names the
/// message file that gives the service's events their text.
constexpr char kEventSourceKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" OSTREL_SERVICE_NAME;

#endif
