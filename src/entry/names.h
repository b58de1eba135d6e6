#ifndef OSTREL_ENTRY_NAMES_H
#define OSTREL_ENTRY_NAMES_H

/// Names the service, the event source, the dispatcher entry and the Parameters key.
constexpr char kServiceName[] = "OstrelServer";
/// The name shown to users, in the service list and in console messages.
constexpr char kDisplayName[] = "Ostrel Server";

#endif
