// The item list of one transfer.
//
// A statement transfers a list of items: integers, reals and texts, each alone
// or as a run of array elements (LEVEL(j,i) for i = 1 to n). The list is kept
// as a few groups, one per argument, so a row of 999 values is one group and
// building the list allocates nothing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <type_traits>

#include "fixed_text.h"

namespace rec {

enum class ItemKind : std::uint8_t { Integer, Real, Text };

// `count` elements of one kind, `stride` bytes apart; texts are `length` bytes.
// Output never writes through `base`.
struct ItemGroup {
  ItemKind kind;
  void* base;
  std::size_t count;
  std::size_t stride;
  std::size_t length;
};

// One element of a group.
struct Item {
  ItemKind kind;
  void* at;
  std::size_t length;

  std::int32_t& integer() const { return *static_cast<std::int32_t*>(at); }
  float& real() const { return *static_cast<float*>(at); }
  std::string_view text() const { return {static_cast<const char*>(at), length}; }
  tarvello::TextRef text_ref() const { return {static_cast<char*>(at), length}; }
};

namespace detail {
template <class T>
struct is_text : std::false_type {};
template <std::size_t N>
struct is_text<tarvello::Text<N>> : std::true_type {};
template <class T>
struct is_span : std::false_type {};
template <class E, std::size_t X>
struct is_span<std::span<E, X>> : std::true_type {};

template <class T>
concept scalar_item = std::is_same_v<T, std::int32_t> || std::is_same_v<T, float> || is_text<T>::value;
}  // namespace detail

// An argument that a read may store into, as an argument of a forwarding
// reference deduces it: a named, modifiable integer, real or text; a text
// reference; or a span of modifiable elements. A const object, a temporary, a
// string literal or any other text view is not one.
template <class T>
concept InputItem =
    (std::is_lvalue_reference_v<T> && !std::is_const_v<std::remove_reference_t<T>> &&
     detail::scalar_item<std::remove_reference_t<T>>) ||
    std::is_same_v<std::remove_cvref_t<T>, tarvello::TextRef> ||
    (detail::is_span<std::remove_cvref_t<T>>::value &&
     !std::is_const_v<typename std::remove_cvref_t<T>::element_type>);

// Turns one argument of a transfer into its group. Output only reads the
// group, so a const argument is taken as it is; a read builds its groups with
// input_items, which takes modifiable arguments only.
template <class T>
ItemGroup item_group(T&& arg) {
  using U = std::remove_cvref_t<T>;
  if constexpr (std::is_same_v<U, std::int32_t>) {
    return {ItemKind::Integer, const_cast<std::int32_t*>(&arg), 1, 0, 0};
  } else if constexpr (std::is_same_v<U, float>) {
    return {ItemKind::Real, const_cast<float*>(&arg), 1, 0, 0};
  } else if constexpr (detail::is_text<U>::value) {
    return {ItemKind::Text, const_cast<char*>(arg.data()), 1, 0, U::size()};
  } else if constexpr (std::is_same_v<U, tarvello::TextRef>) {
    return {ItemKind::Text, arg.data, 1, 0, arg.size};
  } else if constexpr (std::is_convertible_v<U, std::string_view>) {
    std::string_view s = arg;
    return {ItemKind::Text, const_cast<char*>(s.data()), 1, 0, s.size()};
  } else {
    // A span of elements.
    using E = std::remove_cv_t<typename U::element_type>;
    if constexpr (std::is_same_v<E, std::int32_t>) {
      return {ItemKind::Integer, const_cast<E*>(arg.data()), arg.size(), sizeof(E), 0};
    } else if constexpr (std::is_same_v<E, float>) {
      return {ItemKind::Real, const_cast<E*>(arg.data()), arg.size(), sizeof(E), 0};
    } else {
      static_assert(detail::is_text<E>::value, "unsupported item type");
      // The characters of a text are its storage, so an element's address is
      // its first character (an empty span has none).
      return {ItemKind::Text, const_cast<char*>(reinterpret_cast<const char*>(arg.data())), arg.size(),
              sizeof(E), E::size()};
    }
  }
}

// Walks the items of a list in order.
class ItemCursor {
 public:
  ItemCursor(std::span<const ItemGroup> groups) : groups_(groups) { skip_empty(); }

  bool done() const { return group_ == groups_.size(); }

  // The items left in the current group (the cursor is not done): `count`
  // elements of one kind from `at`, `stride` bytes apart. A writer that has a
  // field for each of them can take them all at once and skip them.
  struct Run {
    ItemKind kind;
    char* at;
    std::size_t count;
    std::size_t stride;
  };
  Run run() const {
    const ItemGroup& g = groups_[group_];
    return {g.kind, static_cast<char*>(g.base) + index_ * g.stride, g.count - index_, g.stride};
  }
  // Moves past k items of the current group (k at most run().count).
  void skip(std::size_t k) {
    index_ += k;
    if (index_ == groups_[group_].count) {
      ++group_;
      index_ = 0;
      skip_empty();
    }
  }

  Item next() {
    const ItemGroup& g = groups_[group_];
    Item item{g.kind, static_cast<char*>(g.base) + index_ * g.stride, g.length};
    if (++index_ == g.count) {
      ++group_;
      index_ = 0;
      skip_empty();
    }
    return item;
  }

 private:
  void skip_empty() {
    while (group_ < groups_.size() && groups_[group_].count == 0) ++group_;
  }
  std::span<const ItemGroup> groups_;
  std::size_t group_ = 0;
  std::size_t index_ = 0;
};

// The item list of a write.
template <class... Args>
std::array<ItemGroup, sizeof...(Args)> items(Args&&... args) {
  return {item_group(std::forward<Args>(args))...};
}

// The item list of a read: every item is storage that the read may change.
template <InputItem... Args>
std::array<ItemGroup, sizeof...(Args)> input_items(Args&&... args) {
  return items(std::forward<Args>(args)...);
}

}  // namespace rec
