// Decryption keys a host makes for itself, as the platform configuration
// would serve them, with a sealer for each.
//
// PresenceKeys generates a few fresh RSA key pairs. For each it gives the
// private key in the "|" form that the key resource carries, and seals
// presence contents under its public half (the same contents give the same
// string while the object lives). Keys are fresh for every object: nothing
// is read from or written to files. Not copyable: owns the keys.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "vaq_host/presence_sealer.h"

namespace vaq_host {

class PresenceKeys {
 public:
  PresenceKeys() = default;
  PresenceKeys(const PresenceKeys&) = delete;
  PresenceKeys& operator=(const PresenceKeys&) = delete;

  // Generates `count` key pairs with moduli of `bits` bits (at least 512;
  // a 512-bit block holds 53 bytes of contents). Returns false, with
  // `error` saying why, when OpenSSL cannot.
  bool Generate(size_t count, int bits, std::string* error);

  size_t size() const { return keys_.size(); }
  // The private key of key `index` as the key resource carries it.
  const std::string& KeyText(size_t index) const { return keys_[index].text; }
  // The presence string of `contents` under key `index`.
  bool Seal(size_t index, const std::string& contents, std::string* presence, std::string* error);

 private:
  struct Key {
    std::string text;
    std::unique_ptr<PresenceSealer> sealer;
  };
  std::vector<Key> keys_;
};

}  // namespace vaq_host
