#include "friends_list.h"

#include <array>
#include <string_view>

namespace vaq::bench {
namespace {

// SplitMix64: a tiny generator whose output is fixed by its seed alone, on
// every platform and standard library. Its mixing step is a bijection, so
// the first outputs of distinct seeds are distinct.
class SplitMix64 {
 public:
  explicit SplitMix64(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // A number in [0, bound).
  uint64_t Below(uint64_t bound) { return Next() % bound; }

 private:
  uint64_t state_;
};

// One stream per field, so that changing how one field is made leaves the
// others as they are.
constexpr uint64_t kIdSeed = 0x1D5EEDull << 32;
constexpr uint64_t kNameSeed = 0x4A3E5EEDull << 32;
constexpr uint64_t kDetailSeed = 0xDE7A115EEDull << 24;
constexpr uint64_t kClubsSeed = 0xC1AB5EEDull << 32;

// Name parts of 3 to 7 characters: two parts and an optional '_' make 6 to
// 15 characters, and digits fill up to at most 16.
constexpr std::array<std::string_view, 32> kNameHeads = {
    "Shadow", "Moon",  "Frost",   "Iron",  "Silent", "Wild",  "Crimson", "Lucky",
    "Storm",  "Night", "Golden",  "Dark",  "Swift",  "Lone",  "Mystic",  "Rusty",
    "Silver", "Ember", "Thunder", "Pale",  "Brave",  "Sly",   "Hollow",  "Azure",
    "Grim",   "Happy", "Sneaky",  "Toxic", "Royal",  "Quiet", "Feral",   "Velvet"};
constexpr std::array<std::string_view, 32> kNameTails = {
    "Fox",    "Blade", "Hunter", "Wolf",  "Mage",   "Rider", "Walker", "Knight",
    "Raven",  "Bear",  "Ghost",  "Lotus", "Viper",  "Tiger", "Spark",  "Arrow",
    "Jester", "Monk",  "Golem",  "Drake", "Falcon", "Owl",   "Reaper", "Bard",
    "Sage",   "Pike",  "Cat",    "Storm", "Nova",   "Fang",  "Rogue",  "Whale"};

struct Weighted {
  std::string_view text;
  uint32_t weight;
};
// Most friends are offline at any moment.
constexpr std::array<Weighted, 5> kAvailabilities = {
    {{"offline", 50}, {"chat", 25}, {"away", 10}, {"dnd", 8}, {"mobile", 7}}};

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string MakeName(SplitMix64& random) {
  std::string name(kNameHeads[random.Below(kNameHeads.size())]);
  if (random.Below(4) == 0) name += '_';
  name += kNameTails[random.Below(kNameTails.size())];
  size_t digits = random.Below(5);  // 0 to 4
  if (digits > 16 - name.size()) digits = 16 - name.size();
  for (size_t i = 0; i < digits; ++i) name += static_cast<char>('0' + random.Below(10));
  if (random.Below(8) == 0) {
    for (char& c : name) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return name;
}

std::string_view MakeAvailability(SplitMix64& random) {
  uint32_t total = 0;
  for (const Weighted& choice : kAvailabilities) total += choice.weight;
  auto pick = static_cast<uint32_t>(random.Below(total));
  for (const Weighted& choice : kAvailabilities) {
    if (pick < choice.weight) return choice.text;
    pick -= choice.weight;
  }
  return kAvailabilities[0].text;
}

// 258 pseudo-random bytes (the size of an encrypted presence record) in
// Base64, which takes exactly 344 characters and needs no padding. The
// first eight bytes are the first output of a generator seeded with the
// entry index, and so differ between entries.
std::string MakeClubsData(size_t index) {
  constexpr size_t kBytes = kClubsDataLength / 4 * 3;
  static_assert(kBytes % 3 == 0);
  SplitMix64 random(kClubsSeed + index);
  std::array<uint8_t, kBytes> bytes;
  for (size_t i = 0; i < kBytes; i += 8) {
    uint64_t word = random.Next();
    for (size_t j = 0; j < 8 && i + j < kBytes; ++j) bytes[i + j] = static_cast<uint8_t>(word >> (56 - 8 * j));
  }
  std::string text;
  text.reserve(kClubsDataLength);
  for (size_t i = 0; i < kBytes; i += 3) {
    const uint32_t group = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
    for (int shift = 18; shift >= 0; shift -= 6) text += kBase64Alphabet[(group >> shift) & 63];
  }
  return text;
}

void AppendJsonString(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      out += "\\u00";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
  out += '"';
}

// Writes MessagePack: just the formats the friends list needs (unsigned
// numbers, strings, arrays, maps), each in its smallest form. Multi-byte
// fields are big-endian.
class MessagePackWriter {
 public:
  explicit MessagePackWriter(std::vector<uint8_t>& out) : out_(out) {}

  void Unsigned(uint64_t number) {
    if (number <= 0x7F) {
      Byte(static_cast<uint8_t>(number));  // positive fixint
    } else if (number <= 0xFF) {
      Byte(0xCC);
      BigEndian(number, 1);
    } else if (number <= 0xFFFF) {
      Byte(0xCD);
      BigEndian(number, 2);
    } else if (number <= 0xFFFFFFFF) {
      Byte(0xCE);
      BigEndian(number, 4);
    } else {
      Byte(0xCF);
      BigEndian(number, 8);
    }
  }

  void String(std::string_view text) {
    Header(text.size(), 0xA0, 31, 0xD9, 0xDA, 0xDB);
    out_.insert(out_.end(), text.begin(), text.end());
  }

  // Headers; the elements, or key and value pairs, follow.
  void Array(size_t count) { Header(count, 0x90, 15, 0, 0xDC, 0xDD); }
  void Map(size_t count) { Header(count, 0x80, 15, 0, 0xDE, 0xDF); }

 private:
  void Byte(uint8_t byte) { out_.push_back(byte); }
  void BigEndian(uint64_t number, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) Byte(static_cast<uint8_t>(number >> (8 * i)));
  }
  // The fix form holds up to `fixMax` in its low bits; then the 8-bit form
  // (when the family has one: `format8` non-zero), 16-bit and 32-bit forms.
  void Header(size_t size, uint8_t fixFormat, size_t fixMax, uint8_t format8, uint8_t format16, uint8_t format32) {
    if (size <= fixMax) {
      Byte(static_cast<uint8_t>(fixFormat | size));
    } else if (format8 != 0 && size <= 0xFF) {
      Byte(format8);
      BigEndian(size, 1);
    } else if (size <= 0xFFFF) {
      Byte(format16);
      BigEndian(size, 2);
    } else {
      Byte(format32);
      BigEndian(size, 4);
    }
  }

  std::vector<uint8_t>& out_;
};

std::string AsciiLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

// Whether a YAML reader could resolve the plain scalar `text` to something
// other than a string. Deliberately wide: the null and bool words of YAML
// 1.1 and 1.2 in any case, the special floats, and any text with a digit
// made only of characters that occur in numbers of some base, with sign,
// separators, exponent or sexagesimal colons (also catches dates).
bool ResolvesToNonString(std::string_view text) {
  static constexpr std::string_view kWords[] = {"~",   "null", "true", "false", "yes",   "no",    "on",
                                                "off", "y",   "n",    ".inf",  "+.inf", "-.inf", ".nan"};
  const std::string lower = AsciiLower(text);
  for (std::string_view word : kWords) {
    if (lower == word) return true;
  }
  static constexpr std::string_view kNumberCharacters = "0123456789abcdefABCDEFxXoO_.:+-";
  bool hasDigit = false;
  for (char c : text) {
    if (kNumberCharacters.find(c) == std::string_view::npos) return false;
    if (c >= '0' && c <= '9') hasDigit = true;
  }
  return hasDigit;
}

// Whether `text` can stand as a plain scalar in block context and read
// back as the same string.
bool CanBePlainYaml(std::string_view text) {
  if (text.empty() || ResolvesToNonString(text)) return false;
  static constexpr std::string_view kIndicators = "-?:,[]{}#&*!|>'\"%@`";
  const char first = text.front();
  if (kIndicators.find(first) != std::string_view::npos) return false;
  if (first == ' ' || text.back() == ' ' || text.back() == ':') return false;
  if (text.find(": ") != std::string_view::npos || text.find(" #") != std::string_view::npos) return false;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return false;
  }
  return true;
}

// A key or text value: plain when that reads back as the same string,
// otherwise double-quoted (a JSON string is a valid double-quoted YAML
// scalar).
void AppendYamlText(std::string& out, std::string_view text) {
  if (CanBePlainYaml(text)) {
    out += text;
  } else {
    AppendJsonString(out, text);
  }
}

}  // namespace

std::vector<FriendEntry> MakeFriendsList(size_t count) {
  // Ids rise by a random step of 1 to kIdStep, so they are distinct; the
  // first 6,000 have 12 digits whatever the steps.
  constexpr uint64_t kFirstId = 100'000'000'000ull;
  constexpr uint64_t kIdStep = 150'000'000ull;
  std::vector<FriendEntry> entries;
  entries.reserve(count);
  uint64_t id = kFirstId;
  SplitMix64 ids(kIdSeed);
  for (size_t i = 0; i < count; ++i) {
    id += 1 + ids.Below(kIdStep);
    SplitMix64 names(kNameSeed + i);
    SplitMix64 details(kDetailSeed + i);
    FriendEntry entry;
    entry.id = id;
    entry.name = MakeName(names);
    // Mostly the starter icons, some collected ones.
    entry.icon = static_cast<uint32_t>(details.Below(5) == 0 ? 500 + details.Below(5500) : details.Below(29));
    entry.availability = std::string(MakeAvailability(details));
    entry.clubsData = MakeClubsData(i);
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::string FriendsListToJson(std::span<const FriendEntry> entries) {
  std::string out;
  out.reserve(entries.size() * (kClubsDataLength + 128) + 2);
  out += '[';
  for (size_t i = 0; i < entries.size(); ++i) {
    const FriendEntry& entry = entries[i];
    if (i > 0) out += ',';
    out += "{\"id\":";
    out += std::to_string(entry.id);
    out += ",\"name\":";
    AppendJsonString(out, entry.name);
    out += ",\"icon\":";
    out += std::to_string(entry.icon);
    out += ",\"availability\":";
    AppendJsonString(out, entry.availability);
    out += ",\"vaq\":{\"clubsData\":";
    AppendJsonString(out, entry.clubsData);
    out += "}}";
  }
  out += ']';
  return out;
}

std::vector<uint8_t> FriendsListToMessagePack(std::span<const FriendEntry> entries) {
  std::vector<uint8_t> out;
  out.reserve(entries.size() * (kClubsDataLength + 96) + 8);
  MessagePackWriter writer(out);
  writer.Array(entries.size());
  for (const FriendEntry& entry : entries) {
    writer.Map(5);
    writer.String("id");
    writer.Unsigned(entry.id);
    writer.String("name");
    writer.String(entry.name);
    writer.String("icon");
    writer.Unsigned(entry.icon);
    writer.String("availability");
    writer.String(entry.availability);
    writer.String("vaq");
    writer.Map(1);
    writer.String("clubsData");
    writer.String(entry.clubsData);
  }
  return out;
}

std::string FriendsListToYaml(std::span<const FriendEntry> entries) {
  std::string out;
  out.reserve(entries.size() * (kClubsDataLength + 128) + 8);
  if (entries.empty()) out += "[]\n";
  for (const FriendEntry& entry : entries) {
    out += "- id: ";
    out += std::to_string(entry.id);
    out += "\n  name: ";
    AppendYamlText(out, entry.name);
    out += "\n  icon: ";
    out += std::to_string(entry.icon);
    out += "\n  availability: ";
    AppendYamlText(out, entry.availability);
    out += "\n  vaq:\n    clubsData: ";
    AppendYamlText(out, entry.clubsData);
    out += '\n';
  }
  return out;
}

}  // namespace vaq::bench
