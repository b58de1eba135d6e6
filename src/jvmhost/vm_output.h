#ifndef OSTREL_JVMHOST_VM_OUTPUT_H
#define OSTREL_JVMHOST_VM_OUTPUT_H

#include <cstddef>

/// How much of the VM's own text the host keeps: the most recent 2 KiB.
constexpr std::size_t kVmOutputLimit = 2048;

/// The tail of what the Java VM printed, in the system's ANSI code page: at most
/// kVmOutputLimit bytes, the oldest dropped first, never a double-byte
/// character cut in two. No allocation; not thread-safe (the caller locks).
class VmOutputTail {
 public:
  /// Appends `length` bytes of `text`. `cut` says that the text was cut short
  /// at its end (a bounded format buffer), so a lead byte it ends in has lost
  /// its trail byte and is dropped.
  void Append(const char* text, std::size_t length, bool cut);

  /// Copies the text, terminated, into `out` (at least kVmOutputLimit + 1
  /// bytes) and empties the tail. False, with `out` empty, when there was none.
  bool Take(char* out);

  bool empty() const { return length_ == 0; }

 private:
  char text_[kVmOutputLimit] = {};
  std::size_t length_ = 0;
};

/// The length of the first whole characters of `text` that reach at least
/// `minimum` bytes (so that cutting there splits no double-byte character), or
/// `length` when there are fewer.
std::size_t CharacterBoundaryFrom(const char* text, std::size_t length, std::size_t minimum);

/// The length of `text` without a lead byte at its very end that has lost its
/// trail byte: the longest prefix made of whole characters.
std::size_t WholeCharactersLength(const char* text, std::size_t length);

#endif
