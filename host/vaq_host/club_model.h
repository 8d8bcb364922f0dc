// A plain model of the clubs plug-in's observable state, for checking the
// plug-in from the host's side.
//
// ClubModel follows the plug-in's documented rules for the club cache: the
// same operations (presence events, club-room departures, membership,
// decryption-key changes) applied to a std::map give what every summoner's
// public entry should be, which events the plug-in should publish, and
// whether it should send its own presence with a PUT. It knows nothing of
// RSA: the host tells it which presence strings it sealed, under which of
// its keys and with which contents, and which key the plug-in was served
// last; a string decrypts exactly when it was sealed under that key and
// its contents are a club record. A string whose contents name another
// summoner than the one it is given for counts as one that does not
// decrypt (the plug-in logs a warning for it). The model owns only plain
// values.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "rapidjson/document.h"

namespace vaq_host {

// The decrypted contents of a presence string.
struct ClubContents {
  std::string name;
  std::string tag;
  uint64_t summonerId = 0;
};

struct ModelTag {
  uint64_t summonerId = 0;
  std::string clubName;
  std::string clubTag;
  std::string rawPresence;  // what the tag was resolved from; never published
};

struct ModelEntry {
  uint64_t summonerId = 0;
  std::string summonerName;
  int32_t summonerIconId = -1;
  ModelTag tag;
  std::string availability;
};

struct ModelClub {
  std::string key;
  std::vector<uint64_t> activeMembers;
};

struct ModelMembership {
  uint64_t summonerId = 0;
  std::string summonerName;
  std::string presence;
  bool shareClubAffiliation = false;
  std::vector<ModelClub> activeClubs;
};

// An event the plug-in should publish (each reaches the host twice: under
// its path's event name, then under "OnJsonApiEvent").
struct ExpectedEvent {
  std::string uri;
  int32_t eventType = 0;  // 0 Create, 1 Update
  bool isTag = false;     // the tag path and a tag payload, or the data path and an entry
  ModelTag tag;
  ModelEntry entry;
};

// What one operation should make the plug-in do.
struct ExpectedEffects {
  std::vector<ExpectedEvent> events;
  // The body's "clubsData" of a PUT of the plug-in's own presence, when one
  // should be sent.
  std::optional<std::string> ownPresencePut;
  bool keyErrorLogged = false;
  // Lines the plug-in should log at level WARNING, in order: one for each
  // presence string that decrypts but names another summoner.
  std::vector<std::string> warnings;
};

class ClubModel {
 public:
  static constexpr int kNoKey = -1;

  // A presence string the host sealed under its key `key`: it decrypts to
  // `contents` under that key (to nothing usable when `contents` is empty:
  // the plaintext is not a club record) and to nothing under any other.
  void AddSealed(const std::string& presence, int key, std::optional<ClubContents> contents);

  // The key resource changed: `key` is the host key now served, or kNoKey
  // for a Delete, an empty text or a text that is no key (`unreadable`:
  // the plug-in logs an error for it).
  ExpectedEffects OnDecryptionKey(int key, bool unreadable);
  // A chat presence (friend or conversation participant). `presence` is
  // the "clubsData" value, absent when the record has none.
  ExpectedEffects OnUserPresence(int32_t eventType, const std::string& uri, uint64_t id, const std::string& name,
                                 int32_t icon, const std::string& availability,
                                 const std::optional<std::string>& presence);
  ExpectedEffects OnMembership(int32_t eventType, const ModelMembership& membership);

  const std::map<uint64_t, ModelEntry>& cache() const { return cache_; }
  const ModelEntry* Find(uint64_t id) const;
  const ModelMembership& membership() const { return membership_; }
  int key() const { return key_; }
  // Presence strings the plug-in should have tried to decrypt so far (one
  // RSA operation each).
  uint64_t decryptions() const { return decryptions_; }

  // The entries the names endpoint should answer for `names` (already
  // decoded): for each piece of the text split at ",", the entries with
  // that summonerName, in cache order.
  std::vector<std::vector<const ModelEntry*>> EntriesNamed(const std::string& names) const;

  // The JSON the plug-in's records are written as.
  static rapidjson::Value TagJson(const ModelTag& tag, rapidjson::Document::AllocatorType& allocator);
  static rapidjson::Value EntryJson(const ModelEntry& entry, rapidjson::Document::AllocatorType& allocator);

 private:
  enum Change : int { kUnchanged = 0, kChanged = 1, kCreated = 2 };

  int SetAvailability(uint64_t id, const std::string& availability);
  int SetIcon(uint64_t id, int32_t icon);
  ModelTag ResolveClubTag(uint64_t id, const std::string& name, const std::string& presence,
                          ExpectedEffects* effects);
  int UpdateClubTag(uint64_t id, const std::string& name, const std::string& presence, ExpectedEffects* effects);
  bool IsActiveClubMember(const std::string& conversationId, uint64_t summonerId) const;
  bool Decrypt(const std::string& presence, ClubContents* contents) const;
  void ExpectTag(int32_t type, uint64_t id, const ModelTag& tag, ExpectedEffects* effects) const;
  void ExpectData(int32_t type, uint64_t id, ExpectedEffects* effects) const;

  struct Sealed {
    int key;
    std::optional<ClubContents> contents;
  };
  std::map<std::string, Sealed> sealed_;
  int key_ = kNoKey;
  mutable uint64_t decryptions_ = 0;
  std::map<uint64_t, ModelEntry> cache_;
  ModelMembership membership_;
};

// Splits `text` at any of `delimiters`, dropping empty pieces.
std::vector<std::string> SplitPieces(const std::string& text, const std::string& delimiters);

}  // namespace vaq_host
