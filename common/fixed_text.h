// Fixed-length text, the system's only kind of character data.
//
// A Text<N> always holds exactly N bytes. A fresh value holds zero bytes (storage
// that nothing has assigned is written out unchanged, zero bytes included).
// Assigning a shorter value pads it with blanks, a longer one is cut to N.
// Two texts compare equal when they differ only in trailing blanks.
#pragma once

#include <array>
#include <cstddef>
#include <cstring>
#include <string_view>

namespace tarvello {

// A writable window on a text: the target of a text item on input (a whole
// variable or a part of one such as LINE(1:60)).
struct TextRef {
  char* data;
  std::size_t size;

  void assign(std::string_view s) const {
    std::size_t n = s.size() < size ? s.size() : size;
    std::memcpy(data, s.data(), n);
    std::memset(data + n, ' ', size - n);
  }
  std::string_view view() const { return {data, size}; }
};

// Removes trailing blanks (only blanks, not zero bytes).
constexpr std::string_view trim_right(std::string_view s) {
  std::size_t n = s.size();
  while (n > 0 && s[n - 1] == ' ') --n;
  return s.substr(0, n);
}

// Equality of two texts of any lengths: the shorter is taken as padded with blanks.
constexpr bool text_equal(std::string_view a, std::string_view b) {
  return trim_right(a) == trim_right(b);
}

template <std::size_t N>
class Text {
  static_assert(N >= 1);

 public:
  Text() = default;
  Text(std::string_view s) { assign(s); }  // NOLINT: texts convert from literals
  Text& operator=(std::string_view s) {
    assign(s);
    return *this;
  }

  void assign(std::string_view s) { ref().assign(s); }
  static constexpr std::size_t size() { return N; }
  char* data() { return chars_.data(); }
  const char* data() const { return chars_.data(); }

  std::string_view view() const { return {chars_.data(), N}; }
  operator std::string_view() const { return view(); }  // NOLINT: a text is its characters
  TextRef ref() { return {chars_.data(), N}; }

  // Characters first to last, counted from 1, both included: LINE(1:60) is sub(1, 60).
  std::string_view sub(std::size_t first, std::size_t last) const {
    return view().substr(first - 1, last - first + 1);
  }
  TextRef sub_ref(std::size_t first, std::size_t last) {
    return {chars_.data() + first - 1, last - first + 1};
  }
  // The first k characters.
  std::string_view first(std::size_t k) const { return view().substr(0, k); }
  std::string_view trimmed() const { return trim_right(view()); }

  friend bool operator==(const Text& a, std::string_view b) { return text_equal(a.view(), b); }
  template <std::size_t M>
  friend bool operator==(const Text& a, const Text<M>& b) {
    return text_equal(a.view(), b.view());
  }

 private:
  std::array<char, N> chars_{};
};

}  // namespace tarvello
