// The RSA key that decrypts club presence strings.
//
// The platform configuration delivers an unencrypted PEM RSA private key
// in which every line break is written as "|". A PresenceKey owns at most
// one OpenSSL key at a time. A presence string is the Base64 text of one
// RSA block (PKCS #1 v1.5 padding) holding a JSON ClubServiceTag.
#pragma once

#include <string_view>

#include "clubs/club_records.h"

struct rsa_st;

namespace vaq {

class TypeRegistry;

class PresenceKey {
 public:
  PresenceKey() = default;
  ~PresenceKey() { Free(); }
  PresenceKey(const PresenceKey&) = delete;
  PresenceKey& operator=(const PresenceKey&) = delete;

  bool loaded() const { return key_ != nullptr; }
  // Frees the key (RSA_free); the object then holds none.
  void Free();
  // Reads a key from its "|"-joined PEM text (real line feeds work too).
  // Returns false when OpenSSL cannot read it (malformed, encrypted, not
  // RSA); the object then holds no key. Never asks for a password.
  bool Load(std::string_view text);

  // Decrypts `presence` and reads the plaintext as a ClubServiceTag with
  // the required rule under "<value>". False for anything that does not
  // decode, decrypt, parse or convert; nothing is logged.
  bool DecryptClubPresence(std::string_view presence, const TypeRegistry& registry,
                           Tarn::Client::ClubsPublic::Api::ClubServiceTag* content) const;

 private:
  rsa_st* key_ = nullptr;
};

}  // namespace vaq
