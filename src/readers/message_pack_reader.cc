#include "readers/message_pack_reader.h"

#include <cstring>
#include <string>
#include <string_view>

#include "diagnostics/message_format.h"
#include "readers/tree_builder.h"

namespace vaq {

namespace {

// One open array or map.
struct Frame {
  uint64_t remaining;  // items still to read; a map counts key and value
  bool isMap;
};

// Decodes one object into a tree through a TreeBuilder. `frames_` holds
// the open containers, innermost last.
class Decoder {
 public:
  Decoder(const uint8_t* data, size_t length, ValueResult* result)
      : data_(data),
        length_(length),
        result_(result),
        builder_(&result->value(), TreeSource::kMessagePack),
        reserveBudget_(length) {}
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  // Returns the position where decoding stopped.
  size_t Run();
  // After Run: the innermost container still waiting for items, when the
  // input ended inside one (0 none, 1 an array, 2 a map).
  int OpenAtEnd() const;

 private:
  void ReadValue();
  void ReadKey();
  void OpenArray(uint64_t count);
  void OpenMap(uint64_t count);
  // Hands a value to the builder; false (with the error set) at a limit.
  bool Built(bool accepted) {
    if (!accepted) {
      SourcePosition where;
      where.offset = position_;
      Fail(builder_.LimitMessage(where));
    }
    return accepted;
  }

  // Reading a payload at the current position; false (with the error set)
  // when the input is too short.
  bool Read8(uint8_t* out);
  bool Read16(uint16_t* out);
  bool Read32(uint32_t* out);
  bool Read64(uint64_t* out);
  // A length or count field of 1, 2 or 4 bytes.
  bool ReadLength(int bytes, uint32_t* out);

  void Fail(std::string message) {
    failed_ = true;
    result_->SetError(message);
  }
  void Truncated(int bits) {
    Fail(Format("Invalid MessagePack data. %1-bit integer value at position %2 is truncated.", bits, position_));
  }
  void StringTruncated(size_t length) {
    Fail(Format("Invalid MessagePack data. String of size %1 at position %2 is truncated.", length, position_));
  }

  const uint8_t* data_;
  size_t length_;
  size_t position_ = 0;
  ValueResult* result_;
  TreeBuilder builder_;
  bool failed_ = false;
  // Elements still allowed to be reserved ahead of reading them. Every
  // element takes at least one byte, so a valid input never needs more
  // than its length in total; a lying header gets no reservation.
  size_t reserveBudget_;
  size_t depth_ = 0;
  // The member name read last, inside the input.
  std::string_view pendingName_;
  Frame frames_[kMaxValueDepth];
};

uint16_t Load16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

uint32_t Load32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

uint64_t Load64(const uint8_t* p) { return (static_cast<uint64_t>(Load32(p)) << 32) | Load32(p + 4); }

size_t Decoder::Run() {
  if (length_ == 0) return 0;
  // The common formats (fixint, fixstr, fixmap, fixarray, uint, str 8 and
  // 16, fixstr keys) are read here with the position in a local; the others
  // go through ReadValue and ReadKey, which work on position_.
  const uint8_t* const end = data_ + length_;
  const uint8_t* p = data_;
  // The innermost open container's frame is kept here while its items are
  // read (frames_ holds it while a nested one is open, and at the end).
  uint64_t remaining = 0;
  bool isMap = false;
  auto keepTop = [&] {
    if (depth_ > 0) frames_[depth_ - 1].remaining = remaining;
  };
  auto loadTop = [&] {
    if (depth_ > 0) {
      remaining = frames_[depth_ - 1].remaining;
      isMap = frames_[depth_ - 1].isMap;
    }
  };
  for (;;) {
    // The value at p.
    const uint8_t format = *p;
    if (format <= 0x7F) {
      ++p;
      if (!builder_.Signed(format)) goto limit;
    } else if ((format >= 0xA0 && format <= 0xBF) || format == 0xD9 || format == 0xDA) {
      ++p;
      size_t length = format & 0x1F;
      if (format == 0xD9) {
        if (p == end) {
          position_ = static_cast<size_t>(p - data_);
          Truncated(8);
          goto failed;
        }
        length = *p++;
      } else if (format == 0xDA) {
        if (end - p < 2) {
          position_ = static_cast<size_t>(p - data_);
          Truncated(16);
          goto failed;
        }
        length = Load16(p);
        p += 2;
      }
      if (length > static_cast<size_t>(end - p)) {
        position_ = static_cast<size_t>(p - data_);
        StringTruncated(length);
        goto failed;
      }
      const char* text = reinterpret_cast<const char*>(p);
      p += length;
      if (!builder_.String(std::string_view(text, length))) goto limit;
    } else if (format >= 0xCC && format <= 0xCF) {
      ++p;
      const size_t bytes = size_t{1} << (format - 0xCC);
      if (static_cast<size_t>(end - p) < bytes) {
        position_ = static_cast<size_t>(p - data_);
        Truncated(static_cast<int>(bytes * 8));
        goto failed;
      }
      const uint64_t number = bytes == 1 ? *p : bytes == 2 ? Load16(p) : bytes == 4 ? Load32(p) : Load64(p);
      p += bytes;
      if (!builder_.Unsigned(number)) goto limit;
    } else if (format >= 0x80 && format <= 0x9F && depth_ < kMaxValueDepth) {
      ++p;
      position_ = static_cast<size_t>(p - data_);
      keepTop();
      if (format <= 0x8F) {
        OpenMap(format & 0x0F);
      } else {
        OpenArray(format & 0x0F);
      }
      loadTop();
      if (failed_) goto failed;
    } else {
      position_ = static_cast<size_t>(p - data_);
      keepTop();
      ReadValue();
      loadTop();
      if (failed_) goto failed;
      p = data_ + position_;
    }

    // The next item: close the containers that are complete, then read a
    // map's key, or stop where the input ends.
    for (;;) {
      if (depth_ == 0) goto done;
      if (remaining == 0) {
        --depth_;
        if (isMap) {
          builder_.EndStructure();
        } else {
          builder_.EndCollection();
        }
        loadTop();
        continue;
      }
      if (p == end) goto done;
      --remaining;
      if (!isMap) break;
      // Items of a map alternate key, value.
      std::string_view name;
      const uint8_t keyFormat = *p;
      if (keyFormat >= 0xA0 && keyFormat <= 0xBF) {
        ++p;
        const size_t length = keyFormat & 0x1F;
        if (length > static_cast<size_t>(end - p)) {
          position_ = static_cast<size_t>(p - data_);
          StringTruncated(length);
          goto failed;
        }
        name = std::string_view(reinterpret_cast<const char*>(p), length);
        p += length;
      } else {
        position_ = static_cast<size_t>(p - data_);
        ReadKey();
        if (failed_) goto failed;
        p = data_ + position_;
        name = pendingName_;
      }
      // The member is named when its value arrives: input that ends after
      // a key adds no member.
      if (p == end) goto done;
      --remaining;
      if (!builder_.Key(name)) goto limit;
      break;
    }
  }

limit:
  keepTop();
  position_ = static_cast<size_t>(p - data_);
  Built(false);
  return position_;
done:
  keepTop();
  position_ = static_cast<size_t>(p - data_);
  // Input that ends inside containers leaves them holding what was read.
  builder_.CloseAll();
  return position_;
failed:
  keepTop();
  return position_;
}

int Decoder::OpenAtEnd() const {
  if (failed_) return 0;
  for (size_t i = depth_; i > 0; --i) {
    if (frames_[i - 1].remaining != 0) return frames_[i - 1].isMap ? 2 : 1;
  }
  return 0;
}

bool Decoder::Read8(uint8_t* out) {
  if (length_ - position_ < 1) {
    Truncated(8);
    return false;
  }
  *out = data_[position_++];
  return true;
}

bool Decoder::Read16(uint16_t* out) {
  if (length_ - position_ < 2) {
    Truncated(16);
    return false;
  }
  *out = Load16(data_ + position_);
  position_ += 2;
  return true;
}

bool Decoder::Read32(uint32_t* out) {
  if (length_ - position_ < 4) {
    Truncated(32);
    return false;
  }
  *out = Load32(data_ + position_);
  position_ += 4;
  return true;
}

bool Decoder::Read64(uint64_t* out) {
  if (length_ - position_ < 8) {
    Truncated(64);
    return false;
  }
  *out = Load64(data_ + position_);
  position_ += 8;
  return true;
}

bool Decoder::ReadLength(int bytes, uint32_t* out) {
  if (bytes == 1) {
    uint8_t length = 0;
    if (!Read8(&length)) return false;
    *out = length;
    return true;
  }
  if (bytes == 2) {
    uint16_t length = 0;
    if (!Read16(&length)) return false;
    *out = length;
    return true;
  }
  return Read32(out);
}

void Decoder::OpenArray(uint64_t count) {
  if (!Built(builder_.StartCollection())) return;
  const size_t left = length_ - position_;
  if (count > 0 && count <= left && count <= reserveBudget_) {
    builder_.ExpectItems(static_cast<size_t>(count));
    reserveBudget_ -= static_cast<size_t>(count);
  }
  frames_[depth_++] = Frame{count, false};
}

void Decoder::OpenMap(uint64_t count) {
  const size_t left = length_ - position_;
  // Every member takes at least two bytes. The map gets exactly as many
  // as its header says, or the input ends (and CloseAll orders them).
  const bool trusted = count > 0 && count <= left / 2 && count <= reserveBudget_;
  if (!Built(trusted ? builder_.StartStructure(static_cast<size_t>(count)) : builder_.StartStructure())) return;
  if (trusted) reserveBudget_ -= static_cast<size_t>(count);
  frames_[depth_++] = Frame{count * 2, true};
}

void Decoder::ReadValue() {
  const uint8_t format = data_[position_++];
  if (format <= 0x7F) {
    Built(builder_.Signed(format));
    return;
  }
  if (format >= 0xE0) {
    Built(builder_.Signed(static_cast<int8_t>(format)));
    return;
  }

  // Containers: the depth is checked before any count is read.
  const bool isContainer = format <= 0x9F || (format >= 0xDC && format <= 0xDF);
  if (isContainer && depth_ >= kMaxValueDepth) {
    Built(builder_.StartCollection());
    return;
  }
  if (format <= 0x8F) {
    OpenMap(format & 0x0F);
    return;
  }
  if (format <= 0x9F) {
    OpenArray(format & 0x0F);
    return;
  }

  uint32_t length = 0;
  bool isString = false;
  bool isBlob = false;
  if (format <= 0xBF) {
    length = format & 0x1F;
    isString = true;
  } else {
    switch (format) {
      case 0xC0:
        Built(builder_.Null());
        return;
      case 0xC2:
        Built(builder_.Bool(false));
        return;
      case 0xC3:
        Built(builder_.Bool(true));
        return;
      case 0xC4:
      case 0xC5:
      case 0xC6:
        if (!ReadLength(1 << (format - 0xC4), &length)) return;
        isBlob = true;
        break;
      case 0xCA: {
        uint32_t bits = 0;
        if (!Read32(&bits)) return;
        float number;
        std::memcpy(&number, &bits, sizeof number);
        Built(builder_.Float(number));
        return;
      }
      case 0xCB: {
        uint64_t bits = 0;
        if (!Read64(&bits)) return;
        double number;
        std::memcpy(&number, &bits, sizeof number);
        Built(builder_.Float(number));
        return;
      }
      case 0xCC: {
        uint8_t number = 0;
        if (Read8(&number)) Built(builder_.Unsigned(number));
        return;
      }
      case 0xCD: {
        uint16_t number = 0;
        if (Read16(&number)) Built(builder_.Unsigned(number));
        return;
      }
      case 0xCE: {
        uint32_t number = 0;
        if (Read32(&number)) Built(builder_.Unsigned(number));
        return;
      }
      case 0xCF: {
        uint64_t number = 0;
        if (Read64(&number)) Built(builder_.Unsigned(number));
        return;
      }
      case 0xD0: {
        uint8_t number = 0;
        if (Read8(&number)) Built(builder_.Signed(static_cast<int8_t>(number)));
        return;
      }
      case 0xD1: {
        uint16_t number = 0;
        if (Read16(&number)) Built(builder_.Signed(static_cast<int16_t>(number)));
        return;
      }
      case 0xD2: {
        uint32_t number = 0;
        if (Read32(&number)) Built(builder_.Signed(static_cast<int32_t>(number)));
        return;
      }
      case 0xD3: {
        uint64_t number = 0;
        if (Read64(&number)) Built(builder_.Signed(static_cast<int64_t>(number)));
        return;
      }
      case 0xD9:
      case 0xDA:
      case 0xDB:
        if (!ReadLength(1 << (format - 0xD9), &length)) return;
        isString = true;
        break;
      case 0xDC:
      case 0xDD: {
        uint32_t count = 0;
        if (!ReadLength(format == 0xDC ? 2 : 4, &count)) return;
        OpenArray(count);
        return;
      }
      case 0xDE:
      case 0xDF: {
        uint32_t count = 0;
        if (!ReadLength(format == 0xDE ? 2 : 4, &count)) return;
        OpenMap(count);
        return;
      }
      default:  // 0xC1, ext 8/16/32, fixext
        Fail(Format("Invalid MessagePack data at position %1.", position_));
        return;
    }
  }

  if (length > length_ - position_) {
    if (isString) {
      StringTruncated(length);
    } else {
      Fail(Format("Invalid MessagePack data. Raw bytes of size %1 at position %2 are truncated.", length, position_));
    }
    return;
  }
  const uint8_t* bytes = data_ + position_;
  position_ += length;
  if (isBlob) {
    Built(builder_.Blob(std::span<const uint8_t>(bytes, length)));
  } else {
    Built(builder_.String(std::string_view(reinterpret_cast<const char*>(bytes), length)));
  }
}

void Decoder::ReadKey() {
  const uint8_t format = data_[position_++];
  uint32_t length = 0;
  if (format >= 0xA0 && format <= 0xBF) {
    length = format & 0x1F;
  } else if (format >= 0xD9 && format <= 0xDB) {
    if (!ReadLength(1 << (format - 0xD9), &length)) return;
  } else {
    Fail(Format("Invalid MessagePack data at position %1. Map keys must be strings.", position_));
    return;
  }
  if (length > length_ - position_) {
    StringTruncated(length);
    return;
  }
  // The member is named when its value arrives: input that ends after a
  // key adds no member.
  pendingName_ = std::string_view(reinterpret_cast<const char*>(data_ + position_), length);
  position_ += length;
}

}  // namespace

namespace {

// Decodes one value; when `whole`, data that ends inside an open container
// is an error rather than the partial value.
ValueResult Decode(const uint8_t* data, size_t length, size_t* consumed, bool whole) {
  ValueResult result;
  if (data == nullptr) length = 0;
  Decoder decoder(data, length, &result);
  const size_t position = decoder.Run();
  if (consumed != nullptr) *consumed = position;
  if (const int open = whole ? decoder.OpenAtEnd() : 0; open != 0) {
    result.SetError(Format("Invalid MessagePack data. The data ends at position %1 inside an open %2.", position,
                           open == 2 ? "map" : "array"));
  }
  return result;
}

}  // namespace

ValueResult DecodeMessagePack(const uint8_t* data, size_t length, size_t* consumed) {
  return Decode(data, length, consumed, false);
}

ValueResult DecodeWholeMessagePack(const uint8_t* data, size_t length, size_t* consumed) {
  return Decode(data, length, consumed, true);
}

bool LooksLikeMessagePack(const uint8_t* data, size_t length) {
  if (data == nullptr || length == 0) return false;
  const uint8_t first = data[0];
  return (first >= 0x80 && first <= 0x9F) || (first >= 0xDC && first <= 0xDF);
}

}  // namespace vaq
