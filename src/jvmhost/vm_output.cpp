#include "jvmhost/vm_output.h"

#include <cstring>

#include "launch/ansi_code_page.h"

std::size_t CharacterBoundaryFrom(const char* text, std::size_t length, std::size_t minimum) {
  std::size_t at = 0;
  while (at < minimum && at < length) {
    at += IsAnsiLeadByte(static_cast<unsigned char>(text[at])) ? 2 : 1;
  }
  return at < length ? at : length;
}

std::size_t WholeCharactersLength(const char* text, std::size_t length) {
  std::size_t at = 0;
  while (at < length) {
    const std::size_t size = IsAnsiLeadByte(static_cast<unsigned char>(text[at])) ? 2 : 1;
    if (at + size > length) {
      break;
    }
    at += size;
  }
  return at;
}

void VmOutputTail::Append(const char* text, std::size_t length, bool cut) {
  if (cut) {
    length = WholeCharactersLength(text, length);
  }
  if (length >= kVmOutputLimit) {
    // The new text alone fills the tail: keep its end, from a character start.
    const std::size_t from = CharacterBoundaryFrom(text, length, length - kVmOutputLimit);
    length_ = length - from;
    std::memcpy(text_, text + from, length_);
    return;
  }
  if (length_ + length > kVmOutputLimit) {
    const std::size_t drop = CharacterBoundaryFrom(text_, length_, length_ + length - kVmOutputLimit);
    std::memmove(text_, text_ + drop, length_ - drop);
    length_ -= drop;
  }
  std::memcpy(text_ + length_, text, length);
  length_ += length;
}

bool VmOutputTail::Take(char* out) {
  std::memcpy(out, text_, length_);
  out[length_] = '\0';
  const bool said = length_ != 0;
  length_ = 0;
  return said;
}
