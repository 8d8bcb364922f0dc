// The chat friends list that the benchmarks build, read and write.
//
// A deterministic stand-in for what the chat plug-in publishes about a
// player's friends: each entry has a 12-digit id, a player name of 6 to 16
// characters, a profile icon number, an availability from a small set and
// the Base64 club presence text of 344 characters. Entry i depends on i
// only, so a shorter list is a prefix of a longer one and every run (and
// every machine) sees the same bytes. Ids and club presence texts are
// distinct between entries.
//
// The data is plain C++ (no Value, no JSON library) so that each benchmark
// measures only the representation it is about. The caller owns the
// returned vectors and strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vaq::bench {

struct FriendEntry {
  uint64_t id;               // 12 decimal digits
  std::string name;          // 6 to 16 characters: letters, digits, '_'
  uint32_t icon;             // profile icon number
  std::string availability;  // "chat", "away", "dnd", "mobile" or "offline"
  std::string clubsData;     // 344 Base64 characters (258 bytes)
};

inline constexpr size_t kFriendsListSize = 5000;
inline constexpr size_t kClubsDataLength = 344;

// The first `count` entries of the friends list.
std::vector<FriendEntry> MakeFriendsList(size_t count = kFriendsListSize);

// The entries as compact JSON text: an array of objects whose members come
// in the order id, name, icon, availability, vaq {clubsData}. The full
// 5,000-entry list renders to about 2.2 MB; a list of about 2,300 entries to
// about 1 MB.
std::string FriendsListToJson(std::span<const FriendEntry> entries);

// The same array of maps as MessagePack, members in the same order. Every
// number is unsigned and takes the smallest format that holds it (positive
// fixint up to 127, then uint 8 to 64); strings, arrays and maps take the
// smallest format that holds their length. The full list encodes to about
// 2.1 MB.
std::vector<uint8_t> FriendsListToMessagePack(std::span<const FriendEntry> entries);

// The same content as block-style YAML: a sequence of mappings, nested the
// way the JSON text is, two spaces per level. Keys and texts are plain
// scalars unless a YAML reader could take them for something else (a
// number, bool, null, or a text starting with an indicator), in which case
// they are double-quoted. The full list renders to about 2.2 MB.
std::string FriendsListToYaml(std::span<const FriendEntry> entries);

}  // namespace vaq::bench
