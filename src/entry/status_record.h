#ifndef OSTREL_ENTRY_STATUS_RECORD_H
#define OSTREL_ENTRY_STATUS_RECORD_H

#include <cstdint>

// The bookkeeping of a service status report, apart from the platform call.

constexpr std::uint32_t kStateStopped = 1;
constexpr std::uint32_t kStateStartPending = 2;
constexpr std::uint32_t kStateStopPending = 3;
constexpr std::uint32_t kStateRunning = 4;
constexpr std::uint32_t kAcceptStop = 1;
constexpr std::uint32_t kAcceptShutdown = 4;
constexpr std::uint32_t kAcceptPreshutdown = 0x100;

struct StatusFields {
  std::uint32_t controls_accepted;
  std::uint32_t checkpoint;
};

/// The controls accepted and the checkpoint of a report of `state`. Pending
/// states take the checkpoint from `*counter` and advance it; RUNNING and
/// STOPPED carry checkpoint 0 and leave the counter alone. Nothing is accepted
/// while START_PENDING; `offered` (the controls the system has for the
/// service, kAccept... flags) in every other state.
StatusFields NextStatusFields(std::uint32_t state, std::uint32_t offered, std::uint32_t* counter);

#endif
