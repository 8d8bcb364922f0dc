#include "clubs/presence_key.h"

#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <string>
#include <vector>

#include "clubs/text_pieces.h"
#include "diagnostics/trace.h"
#include "readers/json_reader.h"
#include "value/base64.h"
#include "value/conversion.h"

namespace vaq {

namespace {

// Encrypted keys are not supported: OpenSSL's default would prompt on the
// terminal for a password, which a plug-in inside a game client must never
// do.
int NoPassword(char*, int, int, void*) { return -1; }

}  // namespace

void PresenceKey::Free() {
  if (key_ != nullptr) RSA_free(key_);
  key_ = nullptr;
}

bool PresenceKey::Load(std::string_view text) {
  Free();
  std::string pem(text);
  std::replace(pem.begin(), pem.end(), '|', '\n');
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  if (bio == nullptr) return false;
  key_ = PEM_read_bio_RSAPrivateKey(bio, nullptr, &NoPassword, nullptr);
  BIO_free(bio);
  return key_ != nullptr;
}

bool PresenceKey::DecryptClubPresence(std::string_view presence, const TypeRegistry& registry,
                                      Tarn::Client::ClubsPublic::Api::ClubServiceTag* content) const {
  if (key_ == nullptr) {
    Trace("vaq-clubs-public: Couldn't decrypt club presence %s: no decryption key", presence);
    return false;
  }
  const std::vector<uint8_t> bytes = DecodeBase64(presence);
  std::vector<unsigned char> plain(static_cast<size_t>(RSA_size(key_)), 0);
  const int length =
      RSA_private_decrypt(static_cast<int>(bytes.size()), bytes.data(), plain.data(), key_, RSA_PKCS1_PADDING);
  if (length < 0) {
    Trace("vaq-clubs-public: Couldn't decrypt club presence %s: not one RSA block under the key", presence);
    return false;
  }
  ValueResult parsed = ParseJson(std::string(reinterpret_cast<const char*>(plain.data()), static_cast<size_t>(length)));
  if (!parsed.ok()) {
    Trace("vaq-clubs-public: Couldn't decrypt club presence %s: the contents are not JSON: %s", presence,
          parsed.Message());
    return false;
  }
  Tarn::Client::ClubsPublic::Api::ClubServiceTag tag;
  ValueResult converted;
  FromValueRequired(converted, tag, parsed.value(), "<value>", registry);
  if (!converted.ok()) {
    Trace("vaq-clubs-public: Couldn't decrypt club presence %s: %s", presence, converted.Message());
    return false;
  }
  *content = std::move(tag);
  return true;
}

}  // namespace vaq
