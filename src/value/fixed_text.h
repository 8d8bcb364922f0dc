// A text of fixed length built at compile time.
//
// FixedText<N> holds exactly N characters and a terminator in an inline
// array, so that texts made of literals and other FixedTexts by "+" are
// constant expressions. The type identities use it to spell native types
// and their signature texts without any run-time work.
#pragma once

#include <cstddef>
#include <string_view>

namespace vaq {

template <size_t N>
struct FixedText {
  char chars[N + 1] = {};

  constexpr FixedText() = default;
  // From a string literal of exactly N characters.
  constexpr FixedText(const char (&literal)[N + 1]) {  // NOLINT: implicit by design
    for (size_t i = 0; i < N; ++i) chars[i] = literal[i];
    chars[N] = '\0';
  }

  static constexpr size_t size() { return N; }
  constexpr const char* c_str() const { return chars; }
  constexpr std::string_view view() const { return std::string_view(chars, N); }
};

template <size_t M>
FixedText(const char (&)[M]) -> FixedText<M - 1>;

template <size_t A, size_t B>
constexpr FixedText<A + B> operator+(const FixedText<A>& left, const FixedText<B>& right) {
  FixedText<A + B> joined;
  for (size_t i = 0; i < A; ++i) joined.chars[i] = left.chars[i];
  for (size_t i = 0; i < B; ++i) joined.chars[A + i] = right.chars[i];
  joined.chars[A + B] = '\0';
  return joined;
}

template <size_t A, size_t M>
constexpr FixedText<A + M - 1> operator+(const FixedText<A>& left, const char (&right)[M]) {
  return left + FixedText<M - 1>(right);
}

template <size_t M, size_t B>
constexpr FixedText<M - 1 + B> operator+(const char (&left)[M], const FixedText<B>& right) {
  return FixedText<M - 1>(left) + right;
}

}  // namespace vaq
