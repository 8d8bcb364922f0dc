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
// cannot (a folder is not read).
bool ReadTextFile(const std::string& path, std::string* text, std::string* error);

// `pem` with its final line break dropped, "\r" removed and every other
// line break written as "|".
std::string KeyText(const std::string& pem);

// Reads the PEM private key in `path` and gives its key text. Refuses,
// with `error` naming the file and the problem, a folder, a file that holds
// no PEM private key that can be read without a password (a public key
// included), and a key that is not an RSA key: what the plug-in could not
// use either.
bool ReadPrivateKeyText(const std::string& path, std::string* keyText, std::string* error);

// Seals presence contents under public keys: the default key and any
// number of named ones. Remembers what it sealed: the same contents under
// the same key give the same presence string for the sealer's lifetime (so
// that a presence repeated in a scenario is the very same string, as it is
// when a player's presence is sent again), and a string it made can be
// traced back to its contents and key. Not copyable: owns the keys.
class PresenceSealer {
 public:
  PresenceSealer();
  ~PresenceSealer();
  PresenceSealer(const PresenceSealer&) = delete;
  PresenceSealer& operator=(const PresenceSealer&) = delete;

  // Reads a PEM public key ("BEGIN PUBLIC KEY" or "BEGIN RSA PUBLIC KEY");
  // a private key is accepted too (its public half is used). Replaces any
  // earlier key of that name and forgets what was sealed under it. The key
  // named "" is the default key.
  bool LoadKey(const std::string& pemPath, std::string* error) { return LoadKey("", pemPath, error); }
  bool LoadKey(const std::string& name, const std::string& pemPath, std::string* error);
  // The same with the PEM text itself.
  bool UseKey(const std::string& pem, std::string* error) { return UseKey("", pem, error); }
  bool UseKey(const std::string& name, const std::string& pem, std::string* error);
  // Whether the default key, or the key `name`, is there.
  bool loaded() const { return HasKey(""); }
  bool HasKey(const std::string& name) const { return keys_.count(name) > 0; }

  // The presence string of `contents` (sealed as given, byte for byte)
  // under the default key or the key `name`. Fails without that key or
  // when the contents do not fit in one block.
  bool Seal(const std::string& contents, std::string* presence, std::string* error) {
    return Seal("", contents, presence, error);
  }
  bool Seal(const std::string& name, const std::string& contents, std::string* presence, std::string* error);

  // The contents a presence string was sealed from, or null when this
  // sealer did not make it; `keyName`, when given, gets the key's name.
  const std::string* ContentsOf(const std::string& presence, std::string* keyName = nullptr) const;

 private:
  struct Sealed {
    std::string keyName;
    std::string contents;
  };

  std::map<std::string, void*> keys_;                      // name -> EVP_PKEY
  std::map<std::string, std::string> sealed_;              // key name, NUL, contents -> presence
  std::map<std::string, Sealed> contents_;                 // presence -> key name and contents
};

}  // namespace vaq_host
