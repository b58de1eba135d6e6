#include "entry/status_record.h"

StatusFields NextStatusFields(std::uint32_t state, std::uint32_t offered, std::uint32_t* counter) {
  StatusFields fields{};
  fields.controls_accepted = state == kStateStartPending ? 0 : offered;
  if (state == kStateRunning || state == kStateStopped) {
    fields.checkpoint = 0;
  } else {
    fields.checkpoint = (*counter)++;
  }
  return fields;
}
