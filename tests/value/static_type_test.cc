#include "value/static_type.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "value/signature_hash.h"

// Stand-ins for the records whose target spellings are known. They live in
// unnamed namespaces so that they never clash with the real records linked
// into the same test program.
namespace Tarn::Client::ClubsPublic::Api {
namespace {
struct ClubTag {
  uint64_t summonerId = 0;
};
struct ClubPlayer {
  uint64_t summonerId = 0;
};
}  // namespace
}  // namespace Tarn::Client::ClubsPublic::Api

namespace Tarn::Client {
namespace {
enum class PluginManagerState : int32_t { kNotReady, kPluginInitialized };
}  // namespace
}  // namespace Tarn::Client

VAQ_DECLARE_STRUCT_SPELLING(Tarn::Client::ClubsPublic::Api::ClubTag);
VAQ_DECLARE_STRUCT_SPELLING(Tarn::Client::ClubsPublic::Api::ClubPlayer);
VAQ_DECLARE_ENUM_SPELLING(Tarn::Client::PluginManagerState);
VAQ_DECLARE_EXPLICIT_NAME(Tarn::Client::ClubsPublic::Api::ClubTag&);

namespace vaq {
namespace {

using Tarn::Client::PluginManagerState;
using Tarn::Client::ClubsPublic::Api::ClubPlayer;
using Tarn::Client::ClubsPublic::Api::ClubTag;

const std::string kStringSpelling =
    "class std::basic_string<char,struct std::char_traits<char>,class std::allocator<char> >";
const std::string kClubTagSpelling = "struct Tarn::Client::ClubsPublic::Api::ClubTag";
const std::string kClubPlayerSpelling = "struct Tarn::Client::ClubsPublic::Api::ClubPlayer";

std::string HashName(uint32_t hash) {
  char text[16];
  std::snprintf(text, sizeof text, "#%08X", hash);
  return text;
}

template <typename T>
concept HasExplicitName = requires { StaticType::Name<T>(); };

// The identity is a constant of the build.
static_assert(StaticType::HashCode<bool>().hash == 0x6AB1187Cu);
static_assert(StaticType::HashCode<bool>().name == StaticType::HashCode<bool>().text);

static_assert(HasExplicitName<std::string>);
static_assert(HasExplicitName<ClubTag&>);
static_assert(!HasExplicitName<ClubTag>);
static_assert(!HasExplicitName<int>);

TEST(StaticTypeTest, BoolHasKnownHashAndHashName) {
  const TypeIdentity& identity = StaticType::HashCode<bool>();
  EXPECT_EQ(identity.hash, 0x6AB1187Cu);
  EXPECT_STREQ(identity.name, "#6AB1187C");
  EXPECT_EQ(identity.name, identity.text);
  // One record per type, whoever asks.
  EXPECT_EQ(&identity, &StaticType::HashCode<bool>());
}

struct SpellingCase {
  const TypeIdentity* identity;
  std::string_view spelling;
  std::string expected;
};

template <typename T>
SpellingCase Case(std::string expected) {
  return SpellingCase{&StaticType::HashCode<T>(), StaticType::Spelling<T>(), std::move(expected)};
}

TEST(StaticTypeTest, SpellingsAndHashesFollowTargetCompiler) {
  const std::string mapOfStrings = "class std::unordered_map<" + kStringSpelling + "," + kStringSpelling +
                                   ",struct std::hash<" + kStringSpelling + " >,struct std::equal_to<" +
                                   kStringSpelling + " >,class std::allocator<struct std::pair<" + kStringSpelling +
                                   " const ," + kStringSpelling + "> > >";
  const SpellingCase cases[] = {
      Case<bool>("bool"),
      Case<char>("char"),
      Case<int8_t>("signed char"),
      Case<uint8_t>("unsigned char"),
      Case<int16_t>("short"),
      Case<uint16_t>("unsigned short"),
      Case<int32_t>("int"),
      Case<uint32_t>("unsigned int"),
      // The 64-bit integers are spelled as on the target on every platform.
      Case<int64_t>("__int64"),
      Case<uint64_t>("unsigned __int64"),
      Case<long long>("__int64"),
      Case<unsigned long long>("unsigned __int64"),
      Case<long>(sizeof(long) == 8 ? "__int64" : "long"),
      Case<float>("float"),
      Case<double>("double"),
      Case<void>("void"),
      Case<std::string>(kStringSpelling),
      Case<std::vector<int>>("class std::vector<int,class std::allocator<int> >"),
      Case<std::vector<ClubPlayer>>("class std::vector<" + kClubPlayerSpelling + ",class std::allocator<" +
                                    kClubPlayerSpelling + "> >"),
      Case<std::unordered_map<std::string, std::string>>(mapOfStrings),
      Case<std::optional<std::string>>("class std::optional<" + kStringSpelling + ">"),
      Case<ClubTag>(kClubTagSpelling),
      Case<ClubTag&>(kClubTagSpelling + " &"),
      Case<const ClubTag&>("const " + kClubTagSpelling + " &"),
      Case<PluginManagerState>("enum Tarn::Client::PluginManagerState"),
  };
  for (const SpellingCase& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(c.spelling, c.expected);
    EXPECT_EQ(c.identity->hash, SignatureHash(c.expected));
    EXPECT_EQ(std::string(c.identity->text), HashName(c.identity->hash));
  }
}

TEST(StaticTypeTest, HashesOfTargetSignatureTexts) {
  // Computed once from the signature texts of the target.
  EXPECT_EQ(StaticType::HashCode<uint64_t>().hash, 0xC647E802u);
  EXPECT_EQ(StaticType::HashCode<std::string>().hash, 0x2757680Bu);
  EXPECT_EQ(StaticType::HashCode<std::vector<ClubPlayer>>().hash, 0x611491D2u);
  EXPECT_EQ(StaticType::HashCode<void>().hash, 0x1BE7EF8Eu);
  // Maps, optionals and references, each pinned to the hash of its
  // spelled-out signature text, computed apart from this program, e.g.
  // "unsigned int __cdecl StaticType::HashCode<class std::optional<int>>(void)".
  EXPECT_EQ((StaticType::HashCode<std::unordered_map<std::string, int>>().hash), 0xEF9E86CFu);
  EXPECT_EQ((StaticType::HashCode<std::unordered_map<std::string, ClubPlayer>>().hash), 0x90C79D55u);
  EXPECT_EQ(StaticType::HashCode<std::optional<int>>().hash, 0x660AD9B2u);
  EXPECT_EQ(StaticType::HashCode<std::optional<ClubPlayer>>().hash, 0x74E7C3C9u);
  EXPECT_EQ(StaticType::HashCode<ClubTag&>().hash, 0xDA3A3139u);
}

TEST(StaticTypeTest, ExplicitNameIsTheNameSignature) {
  const std::string stringName = "const char *__cdecl StaticType::Name<" + kStringSpelling + ">(void)";
  EXPECT_EQ(std::string(StaticType::Name<std::string>()), stringName);
  const TypeIdentity& string = StaticType::HashCode<std::string>();
  EXPECT_EQ(string.name, StaticType::Name<std::string>());
  EXPECT_STREQ(string.text, "#2757680B");

  // Only the reference form of the record is named; the record itself
  // keeps the hash text.
  const TypeIdentity& reference = StaticType::HashCode<ClubTag&>();
  EXPECT_STREQ(reference.name,
               "const char *__cdecl StaticType::Name<struct Tarn::Client::ClubsPublic::Api::ClubTag &>(void)");
  const TypeIdentity& record = StaticType::HashCode<ClubTag>();
  EXPECT_EQ(record.name, record.text);
  EXPECT_NE(record.hash, reference.hash);
}

TEST(StaticTypeTest, VoidAndNullMarkTheAbsenceOfAType) {
  EXPECT_TRUE(IsVoidIdentity(nullptr));
  EXPECT_TRUE(IsVoidIdentity(&StaticType::HashCode<void>()));
  EXPECT_FALSE(IsVoidIdentity(&StaticType::HashCode<bool>()));
}

}  // namespace
}  // namespace vaq
