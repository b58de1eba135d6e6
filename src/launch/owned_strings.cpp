#include "launch/owned_strings.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

int FormatTextV(char* buffer, std::size_t size, const char* format, va_list args) {
  va_list measure;
  va_copy(measure, args);
#ifdef _WIN32
  // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): copied just above from the caller's started list
  const int length = _vscprintf(format, measure);
#else
  // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): copied just above from the caller's started list
  const int length = std::vsnprintf(nullptr, 0, format, measure);
#endif
  va_end(measure);
  if (length < 0 || size == 0) {
    return length;
  }
  va_list write;
  va_copy(write, args);
#ifdef _WIN32
  // At most size - 1 bytes; a text that does not fit is cut there, unterminated
  // (-1), so the terminator is always set here.
  const int written = _vsnprintf(buffer, size - 1, format, write);
  buffer[written < 0 ? size - 1 : static_cast<std::size_t>(written)] = '\0';
#else
  std::vsnprintf(buffer, size, format, write);
#endif
  va_end(write);
  return length;
}

// NOLINTNEXTLINE(cert-dcl50-cpp): printf-style on purpose, checked by the format attribute
int FormatText(char* buffer, std::size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int length = FormatTextV(buffer, size, format, args);
  va_end(args);
  return length;
}

OwnedString FormatStringV(const char* format, va_list args) {
  va_list measure;
  va_copy(measure, args);
  // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): copied just above from the caller's started list
  const int length = FormatTextV(nullptr, 0, format, measure);
  va_end(measure);
  OwnedString result;
  if (length < 0) {
    return result;
  }
  const std::size_t size = static_cast<std::size_t>(length) + 1;
  result.reset(static_cast<char*>(malloc(size)));
  if (!result) {
    return result;
  }
  va_list write;
  va_copy(write, args);
  const int written = FormatTextV(result.get(), size, format, write);
  va_end(write);
  if (written != length) {
    result.reset();
  }
  return result;
}

// NOLINTNEXTLINE(cert-dcl50-cpp): printf-style on purpose, checked by the format attribute
OwnedString FormatString(const char* format, ...) {
  va_list args;
  va_start(args, format);
  OwnedString result = FormatStringV(format, args);
  va_end(args);
  return result;
}

OwnedString CopyString(const char* text, std::size_t length) {
  OwnedString copy(static_cast<char*>(malloc(length + 1)));
  if (copy) {
    std::memcpy(copy.get(), text, length);
    copy.get()[length] = '\0';
  }
  return copy;
}

StringList::StringList(StringList&& other) noexcept : items_(other.items_), count_(other.count_) {
  other.items_ = nullptr;
  other.count_ = 0;
}

StringList& StringList::operator=(StringList&& other) noexcept {
  if (this != &other) {
    Reset();
    items_ = other.items_;
    count_ = other.count_;
    other.items_ = nullptr;
    other.count_ = 0;
  }
  return *this;
}

bool StringList::Allocate(std::size_t count) {
  Reset();
  if (count == 0) {
    return true;
  }
  items_ = static_cast<char**>(calloc(count, sizeof(char*)));
  if (items_ == nullptr) {
    return false;
  }
  count_ = count;
  return true;
}

bool StringList::Set(std::size_t index, const char* text, std::size_t length) {
  OwnedString copy = CopyString(text, length);
  if (!copy) {
    return false;
  }
  std::free(items_[index]);
  items_[index] = copy.release();
  return true;
}

void StringList::Reset() noexcept {
  for (std::size_t i = 0; i < count_; ++i) {
    std::free(items_[i]);
  }
  std::free(items_);
  items_ = nullptr;
  count_ = 0;
}
