#ifndef OSTREL_LAUNCH_OWNED_STRINGS_H
#define OSTREL_LAUNCH_OWNED_STRINGS_H

#include <cstdarg>
#include <cstddef>
#include <cstdio>  // defines the printf flavour on mingw-w64
#include <cstdlib>
#include <memory>

// The formats are those of the system's C runtime on Windows (see FormatTextV).
#if defined(__MINGW32__) && !defined(__clang__)
#define OSTREL_PRINTF_FORMAT(fmt, args) __attribute__((format(ms_printf, fmt, args)))
#elif defined(__GNUC__)
#define OSTREL_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define OSTREL_PRINTF_FORMAT(fmt, args)
#endif

struct FreeDeleter {
  void operator()(void* p) const noexcept { std::free(p); }
};

/// A heap string released with free(); null when an allocation failed.
using OwnedString = std::unique_ptr<char, FreeDeleter>;

/// Formats into `buffer`: at most `size` bytes, terminated whenever `size` is
/// above 0 (a text that does not fit is cut). Returns the length of the whole
/// text, or a negative number when the format fails. On Windows the system's C
/// runtime formats (msvcrt.dll: the format language of a Windows Java VM, and
/// none of a second printf in the executable); elsewhere C99's vsnprintf.
int FormatTextV(char* buffer, std::size_t size, const char* format, va_list args) OSTREL_PRINTF_FORMAT(3, 0);
int FormatText(char* buffer, std::size_t size, const char* format, ...) OSTREL_PRINTF_FORMAT(3, 4);

/// Formats into a heap string of exactly the needed size, so no text is ever cut
/// or written past its buffer. Returns null when memory runs out or the format fails.
OwnedString FormatString(const char* format, ...) OSTREL_PRINTF_FORMAT(1, 2);
/// The same with the arguments as a va_list, which it leaves unused (it formats copies).
OwnedString FormatStringV(const char* format, va_list args) OSTREL_PRINTF_FORMAT(1, 0);

/// Copies `length` bytes of `text` into a new NUL-terminated heap string.
OwnedString CopyString(const char* text, std::size_t length);

/// A count and a heap array of heap strings, owned together: the shape of a
/// selected or split entry list. Each string and then the array are released
/// when the list is destroyed; moving transfers ownership. An empty list holds
/// no array at all.
class StringList {
 public:
  StringList() noexcept = default;
  ~StringList() { Reset(); }
  StringList(StringList&& other) noexcept;
  StringList& operator=(StringList&& other) noexcept;
  StringList(const StringList&) = delete;
  StringList& operator=(const StringList&) = delete;

  /// Replaces the contents with `count` empty slots. False when memory runs out
  /// (the list is then empty).
  bool Allocate(std::size_t count);
  /// Stores a copy of `length` bytes of `text` in slot `index`. False when memory runs out.
  bool Set(std::size_t index, const char* text, std::size_t length);

  std::size_t count() const noexcept { return count_; }
  /// The array of strings, or null when the list is empty.
  char* const* items() const noexcept { return items_; }
  const char* operator[](std::size_t index) const noexcept { return items_[index]; }

 private:
  void Reset() noexcept;

  char** items_ = nullptr;
  std::size_t count_ = 0;
};

#endif
