// Reading MessagePack into a value tree.
//
// Request bodies and argument texts may arrive as MessagePack. The reader
// decodes one object from a byte buffer into a Value tree; it never writes
// MessagePack. Format families map to value kinds as follows: positive and
// negative fixint and int 8..64 give signed values, uint 8..64 unsigned
// ones (even for the same number), float 32/64 a float, str a string, bin
// a blob, nil an empty value, arrays collections and maps structures
// (member names must be strings; a repeated name keeps the later value).
// Ext formats and 0xC1 are refused.
//
// Every malformed input gives a message naming the byte position where the
// fault lies. For DecodeMessagePack, input that ends while containers are
// still open is not an error: the containers keep what was read. Callers
// that need one whole value (request bodies, argument texts) use
// DecodeWholeMessagePack, which refuses such input. Nesting deeper than
// kMaxValueDepth containers is refused. Announced container sizes are
// trusted only as far as the input could hold them, so a short input
// cannot make the reader reserve large amounts of memory.
#pragma once

#include <cstddef>
#include <cstdint>

#include "value/value_result.h"

namespace vaq {

// Decodes the object at the start of `data` (`length` bytes). `consumed`
// (may be null) receives the position after the object, or where decoding
// stopped on an error; the caller compares it with the length to find
// extra data. An empty input gives an empty value, ok, consumed 0. On
// failure the result holds only the message.
ValueResult DecodeMessagePack(const uint8_t* data, size_t length, size_t* consumed);

// The same, but input that ends while an array or map still waits for
// items fails with "Invalid MessagePack data. The data ends at position %1
// inside an open map." ("array" when the innermost unfinished container is
// an array); %1 is the input's length.
ValueResult DecodeWholeMessagePack(const uint8_t* data, size_t length, size_t* consumed);

// True when the input is not empty and starts with a map or array format
// byte (0x80-0x9F, 0xDC-0xDF): how argument texts are sniffed.
bool LooksLikeMessagePack(const uint8_t* data, size_t length);

}  // namespace vaq
