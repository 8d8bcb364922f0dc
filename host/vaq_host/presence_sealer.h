// Club presence strings and key text, made the way the platform makes them
// for the plug-in.
//
// A presence string is the Base64 text (standard alphabet, "=" padded) of
// one RSA block holding a small JSON record such as
// {"name":"Night Owls","tag":"OWL","summonerId":100}, encrypted with
// PKCS #1 v1.5 padding under the platform's public key; the plug-in
// decrypts it with the matching private key. Key text is a PEM key with
// each line break written as "|", which is how the platform configuration
// carries the private key.
#pragma once

#include <map>
#include <string>

namespace vaq_host {

// Reads a whole file. Returns false, with `error` saying why, when it
// cannot.
bool ReadTextFile(const std::string& path, std::string* text, std::string* error);

// `pem` with its final line break dropped, "\r" removed and every other
// line break written as "|".
std::string KeyText(const std::string& pem);

// Seals presence contents under one public key. Remembers what it sealed:
// the same contents give the same presence string for the sealer's
// lifetime (so that a presence repeated in a scenario is the very same
// string, as it is when a player's presence is sent again), and a string
// it made can be traced back to its contents. Not copyable: owns the key.
class PresenceSealer {
 public:
  PresenceSealer();
  ~PresenceSealer();
  PresenceSealer(const PresenceSealer&) = delete;
  PresenceSealer& operator=(const PresenceSealer&) = delete;

  // Reads a PEM public key ("BEGIN PUBLIC KEY" or "BEGIN RSA PUBLIC KEY");
  // a private key is accepted too (its public half is used). Replaces any
  // earlier key and forgets what was sealed under it.
  bool LoadKey(const std::string& pemPath, std::string* error);
  // The same with the PEM text itself.
  bool UseKey(const std::string& pem, std::string* error);
  bool loaded() const { return key_ != nullptr; }

  // The presence string of `contents` (sealed as given, byte for byte).
  // Fails without a key or when the contents do not fit in one block.
  bool Seal(const std::string& contents, std::string* presence, std::string* error);

  // The contents a presence string was sealed from, or null when this
  // sealer did not make it.
  const std::string* ContentsOf(const std::string& presence) const;

 private:
  void* key_ = nullptr;  // EVP_PKEY
  std::map<std::string, std::string> sealed_;    // contents -> presence
  std::map<std::string, std::string> contents_;  // presence -> contents
};

}  // namespace vaq_host
