// The standard Base64 alphabet (RFC 4648).
#pragma once

namespace vaq {

// The index (0 to 63) of `c` in "A-Z a-z 0-9 + /", or -1 for any other
// character ("=" included).
inline int Base64Index(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace vaq
