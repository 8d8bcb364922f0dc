// Turning fuzz bytes into the records a host hands to the plug-in.
//
// FuzzInput reads the bytes front to back (past the end every read gives
// zeros), so that a hand-written input spells its records in order.
// HostRecordBuilder makes host values, texts and arrays from it and owns
// every byte it hands out: the records stay valid until the builder is
// destroyed, which frees them all. Pointers it writes are null or point at
// memory of exactly the stated size (texts NUL-terminated), so that the
// address sanitizer sees any read past what a record announces; counts may
// still be non-zero beside a null array, as a careless host would send.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "remoting/host_records.h"

namespace vaq::fuzz {

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint8_t Byte() { return position_ < size_ ? data_[position_++] : 0; }
  uint16_t U16() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }
  uint32_t U32() { return U16() | (static_cast<uint32_t>(U16()) << 16); }
  uint64_t U64() { return U32() | (static_cast<uint64_t>(U32()) << 32); }

  // A length byte (255: the next two bytes give the length), then that
  // many bytes, or as many as are left.
  std::string_view Bytes() {
    size_t length = Byte();
    if (length == 255) length = U16();
    length = std::min(length, size_ - position_);
    std::string_view bytes(reinterpret_cast<const char*>(data_ + position_), length);
    position_ += length;
    return bytes;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

class HostRecordBuilder {
 public:
  // Nesting and node limits of FuzzedValue: deep enough for every record
  // the plug-in reads, small enough to keep an input fast.
  static constexpr int kMaxDepth = 12;
  static constexpr int kMaxNodes = 400;

  explicit HostRecordBuilder(FuzzInput& input) : in_(input) {}
  HostRecordBuilder(const HostRecordBuilder&) = delete;
  HostRecordBuilder& operator=(const HostRecordBuilder&) = delete;

  FuzzInput& input() { return in_; }

  // An owned array of `count` zeroed records (never null, even for 0).
  template <typename T>
  T* Array(size_t count) {
    T* array = new T[count]();
    owned_.emplace_back(array, [](void* pointer) { delete[] static_cast<T*>(pointer); });
    return array;
  }

  // An owned NUL-terminated copy; `text` may hold NULs, which end it early
  // for a reader.
  const char* Text(std::string_view text) {
    char* copy = Array<char>(text.size() + 1);
    if (!text.empty()) std::memcpy(copy, text.data(), text.size());
    return copy;
  }

  // An owned copy of exactly `bytes.size()` bytes.
  const uint8_t* Blob(std::string_view bytes) {
    uint8_t* copy = Array<uint8_t>(bytes.size());
    if (!bytes.empty()) std::memcpy(copy, bytes.data(), bytes.size());
    return copy;
  }

  HostValue String(std::string_view text) {
    HostValue value{};
    value.type = kHostBorrowedString;
    value.payload.string.text = Text(text);
    value.payload.string.length = static_cast<uint32_t>(text.size());
    return value;
  }
  HostValue Unsigned(uint64_t number) {
    HostValue value{};
    value.type = kHostUnsigned;
    value.payload.unsignedValue = number;
    return value;
  }
  HostValue Signed(int64_t number) {
    HostValue value{};
    value.type = kHostSigned;
    value.payload.signedValue = number;
    return value;
  }
  HostValue Bool(uint8_t flag) {
    HostValue value{};
    value.type = kHostBool;
    value.payload.boolean = flag;
    return value;
  }
  HostValue Collection(const std::vector<HostValue>& elements) {
    HostValue value{};
    value.type = kHostCollection;
    value.payload.collection.elements = Array<HostValue>(elements.size());
    value.payload.collection.count = static_cast<uint32_t>(elements.size());
    std::copy(elements.begin(), elements.end(), value.payload.collection.elements);
    return value;
  }
  HostValue Structure(const std::vector<std::pair<const char*, HostValue>>& members) {
    HostValue value{};
    value.type = kHostStructure;
    value.payload.structure.members = Array<HostMember>(members.size());
    value.payload.structure.count = static_cast<uint32_t>(members.size());
    for (size_t i = 0; i < members.size(); ++i) {
      value.payload.structure.members[i].name = members[i].first;
      value.payload.structure.members[i].value = members[i].second;
    }
    return value;
  }

  // A member of a well-formed record whose value the input may replace:
  // one control byte, then (mostly) `make`, else the member is left out
  // or holds a fuzzed value instead.
  void Part(std::vector<std::pair<const char*, HostValue>>& members, const char* name,
            const std::function<HostValue()>& make) {
    const uint8_t control = in_.Byte() % 8;
    if (control == 6) return;
    members.emplace_back(name, control == 7 ? FuzzedValue() : make());
  }

  // Closes a well-formed record: one byte may add a member of a fuzzed
  // name (possibly a repeat of one already there) and value.
  HostValue Record(std::vector<std::pair<const char*, HostValue>> members) {
    if (in_.Byte() % 4 == 3) {
      const char* name = MemberName(members.empty() ? nullptr : members.back().first);
      members.emplace_back(name, FuzzedValue());
    }
    return Structure(members);
  }

  // A host value of any shape the input spells: a type byte (mostly one
  // of the eleven codes, else an unknown code from 11 up to any 32-bit
  // number), then its payload.
  HostValue FuzzedValue(int depth = 0) {
    HostValue value{};
    const uint8_t selector = in_.Byte();
    if (selector < 0xE0) {
      value.type = selector % 11;
    } else if (selector < 0xFF) {
      value.type = 11 + in_.Byte() % 245;
    } else {
      value.type = in_.U32();
    }
    ++nodes_;
    switch (value.type) {
      case kHostNull:
        break;
      case kHostBool:
        value.payload.boolean = in_.Byte();
        break;
      case kHostSigned: {
        const uint8_t small = in_.Byte();
        value.payload.signedValue = small < 0xF0 ? static_cast<int64_t>(small) - 32 : static_cast<int64_t>(in_.U64());
        break;
      }
      case kHostUnsigned: {
        const uint8_t small = in_.Byte();
        value.payload.unsignedValue = small < 0xF0 ? small : in_.U64();
        break;
      }
      case kHostFloat: {
        const uint8_t small = in_.Byte();
        if (small < 0xF0) {
          value.payload.floatValue = small / 4.0 - 8;
        } else {
          const uint64_t bits = in_.U64();
          std::memcpy(&value.payload.floatValue, &bits, sizeof bits);
        }
        break;
      }
      case kHostBorrowedString:
      case kHostOwnedString: {
        const uint8_t flags = in_.Byte();
        if (flags % 8 == 7) {
          value.payload.string.text = nullptr;
          value.payload.string.length = (flags & 8) != 0 ? in_.U32() : 0;
        } else {
          const std::string_view text = in_.Bytes();
          value.payload.string.text = Text(text);
          value.payload.string.length = (flags & 8) != 0 ? in_.U32() : static_cast<uint32_t>(text.size());
        }
        break;
      }
      case kHostBorrowedBlob:
      case kHostOwnedBlob: {
        const uint8_t flags = in_.Byte();
        if (flags % 8 == 7) {
          value.payload.blob.data = nullptr;
          value.payload.blob.length = (flags & 8) != 0 ? in_.U32() : 0;
        } else {
          const std::string_view bytes = in_.Bytes();
          value.payload.blob.data = Blob(bytes);
          value.payload.blob.length = static_cast<uint32_t>(bytes.size());
        }
        break;
      }
      case kHostCollection: {
        bool null = false;
        const uint32_t count = Count(&null);
        value.payload.collection.count = count;
        if (null) break;
        HostValue* elements = Array<HostValue>(count);
        value.payload.collection.elements = elements;
        for (uint32_t i = 0; i < count && depth < kMaxDepth && nodes_ < kMaxNodes; ++i) {
          elements[i] = FuzzedValue(depth + 1);
        }
        break;
      }
      case kHostStructure: {
        bool null = false;
        const uint32_t count = Count(&null);
        value.payload.structure.count = count;
        if (null) break;
        HostMember* members = Array<HostMember>(count);
        value.payload.structure.members = members;
        for (uint32_t i = 0; i < count && depth < kMaxDepth && nodes_ < kMaxNodes; ++i) {
          members[i].name = MemberName(i == 0 ? nullptr : members[in_.Byte() % i].name);
          members[i].value = FuzzedValue(depth + 1);
        }
        break;
      }
      default:
        break;  // an unknown code: nothing a reader may look at
    }
    return value;
  }

  // A member name: null, a repeat of `earlier`, one of the names the
  // plug-in's records use, or any text.
  const char* MemberName(const char* earlier) {
    static const char* const kNames[] = {
        "uri",          "eventType",     "data",         "id",           "name",
        "icon",         "availability",  "lastSeenOnlineTimestamp",      "vaq",
        "clubsData",    "info",          "summonerId",   "summonerName", "secureClubPresenceInfoString",
        "preferences",  "shareClubAffiliation",          "activeClubs",  "key",
        "members",      "activeMembers", "sessionState", "sessionExpire", "uuid",
        "serviceName",  "methodName",    "payload",      "status",       "error",
        "summonerNames", "tag",          "clubTag",      "clubName",     ""};
    const uint8_t choice = in_.Byte();
    switch (choice % 8) {
      case 0:
        return nullptr;
      case 1:
        return earlier;
      case 2:
        return Text(in_.Bytes());
      default:
        return kNames[choice / 8 % (sizeof kNames / sizeof kNames[0])];
    }
  }

 private:
  // The element count of a collection or structure: mostly small, at
  // times up to 255; or a null array, with a count of 0 or any number.
  uint32_t Count(bool* null) {
    const uint8_t choice = in_.Byte();
    if (choice < 0xF0) return choice % 16;
    if (choice < 0xFE) return in_.Byte();
    *null = true;
    return choice == 0xFE ? 0 : in_.U32();
  }

  FuzzInput& in_;
  int nodes_ = 0;
  std::vector<std::unique_ptr<void, void (*)(void*)>> owned_;
};

}  // namespace vaq::fuzz
