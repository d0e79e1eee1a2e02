// Helpers shared by the fuzz targets: values taken from the input bytes,
// records cut from bytes as a unit's file gives them, and the report of a
// broken invariant.
#pragma once

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "record/list_input.h"

namespace fuzz {

// A broken invariant: printed, then the process aborts, which libFuzzer
// reports as a crash and saves the input.
[[noreturn]] inline void fault(const std::string& what) {
  std::fprintf(stderr, "invariant broken: %s\n", what.c_str());
  std::abort();
}

// Bytes shown with C escapes, for fault messages.
inline std::string shown(std::string_view bytes) {
  std::string s;
  for (char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 32 && u < 127 && c != '\\') {
      s += c;
    } else {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02x", u);
      s += esc;
    }
  }
  return s;
}

// Reads the input from its front: bytes, words and the rest. Past the end
// every byte reads as 0.
class Bytes {
 public:
  Bytes(const std::uint8_t* data, std::size_t size) : data_(reinterpret_cast<const char*>(data)), size_(size) {}

  std::uint8_t byte() { return at_ < size_ ? static_cast<std::uint8_t>(data_[at_++]) : 0; }
  std::uint16_t half() {
    const std::uint16_t lo = byte();
    return static_cast<std::uint16_t>(lo | (byte() << 8));
  }
  std::uint32_t word() {
    std::uint32_t w = 0;
    for (int k = 0; k < 4; ++k) w |= static_cast<std::uint32_t>(byte()) << (8 * k);
    return w;
  }
  std::string_view rest() {
    std::string_view r(data_ + at_, size_ - at_);
    at_ = size_;
    return r;
  }

 private:
  const char* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// Values drawn from a pool of bytes, value i from the four bytes at 4i
// (wrapping around), so that short inputs give long item lists and any bit
// pattern (NaN, infinities, subnormals, the extreme integers) can occur.
class Pool {
 public:
  explicit Pool(std::string_view bytes) : bytes_(bytes) {}
  std::uint32_t bits(std::size_t i) const {
    if (bytes_.empty()) return 0;
    std::uint32_t w = 0;
    for (std::size_t k = 0; k < 4; ++k)
      w |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes_[(4 * i + k) % bytes_.size()])) << (8 * k);
    return w;
  }
  float real(std::size_t i) const { return std::bit_cast<float>(bits(i)); }
  std::int32_t integer(std::size_t i) const { return std::bit_cast<std::int32_t>(bits(i)); }
  // `length` characters starting at byte i.
  std::string text(std::size_t i, std::size_t length) const {
    std::string t(length, ' ');
    if (!bytes_.empty())
      for (std::size_t k = 0; k < length; ++k) t[k] = bytes_[(i + k) % bytes_.size()];
    return t;
  }

 private:
  std::string_view bytes_;
};

// The records of a file's bytes as the unit layer cuts them: each ends at an
// LF, the CR bytes right before that LF are not part of it, and a last line
// without LF is a record too.
class LineSource : public rec::RecordSource {
 public:
  explicit LineSource(std::string_view bytes) : bytes_(bytes) {}
  bool next(std::string_view& record) override {
    if (at_ == bytes_.size()) return false;
    std::size_t lf = bytes_.find('\n', at_);
    std::size_t end = lf == std::string_view::npos ? bytes_.size() : lf;
    std::size_t stop = end;
    while (stop > at_ && bytes_[stop - 1] == '\r') --stop;
    record = bytes_.substr(at_, stop - at_);
    at_ = lf == std::string_view::npos ? bytes_.size() : lf + 1;
    ++records_;
    return true;
  }
  bool exhausted() const { return at_ == bytes_.size(); }
  std::size_t records() const { return records_; }

 private:
  std::string_view bytes_;
  std::size_t at_ = 0;
  std::size_t records_ = 0;
};

using rec::TextSource;

}  // namespace fuzz
