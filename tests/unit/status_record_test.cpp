#include "entry/status_record.h"

#include <gtest/gtest.h>

namespace {

struct Report {
  std::uint32_t state;
  std::uint32_t controls_accepted;
  std::uint32_t checkpoint;
};

// SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN: Windows' shutdown reaches the service.
constexpr std::uint32_t kStopAndShutdown = 0x1 | 0x4;

TEST(StatusBookkeeping, NormalServiceRunSequence) {
  std::uint32_t counter = 1;
  const Report expected[] = {
      {kStateStartPending, 0, 1},            // service entry
      {kStateStartPending, 0, 2},            // run start
      {kStateRunning, kStopAndShutdown, 0},
      {kStateRunning, kStopAndShutdown, 0},       // an interrogate while running
      {kStateStopPending, kStopAndShutdown, 3},
      {kStateStopPending, kStopAndShutdown, 4},   // an interrogate while stopping
      {kStateStopped, kStopAndShutdown, 0},
  };
  for (const Report& r : expected) {
    const StatusFields f = NextStatusFields(r.state, kStopAndShutdown, &counter);
    EXPECT_EQ(f.controls_accepted, r.controls_accepted) << "state " << r.state;
    EXPECT_EQ(f.checkpoint, r.checkpoint) << "state " << r.state;
  }
  EXPECT_EQ(counter, 5u);
}

TEST(StatusBookkeeping, CounterIsNeverResetByRunningOrStopped) {
  std::uint32_t counter = 7;
  NextStatusFields(kStateRunning, kStopAndShutdown, &counter);
  NextStatusFields(kStateStopped, kStopAndShutdown, &counter);
  EXPECT_EQ(counter, 7u);
  EXPECT_EQ(NextStatusFields(kStateStartPending, kStopAndShutdown, &counter).checkpoint, 7u);
  EXPECT_EQ(counter, 8u);
}

TEST(StatusBookkeeping, UnknownStatesCountAsPending) {
  std::uint32_t counter = 1;
  // With the preshutdown control, as a system from Vista on offers it.
  const StatusFields f = NextStatusFields(5 /* SERVICE_CONTINUE_PENDING */, kStopAndShutdown | 0x100, &counter);
  EXPECT_EQ(f.checkpoint, 1u);
  EXPECT_EQ(f.controls_accepted, kStopAndShutdown | 0x100);
}

}  // namespace
