#include "vaq_host/presence_keys.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

namespace vaq_host {

namespace {

// A new RSA private key as PEM text, or empty when OpenSSL fails.
std::string NewPrivateKeyPem(int bits) {
  std::string pem;
  EVP_PKEY* key = nullptr;
  EVP_PKEY_CTX* context = EVP_PKEY_CTX_new_id(EVP_PKEY_RSA, nullptr);
  if (context != nullptr && EVP_PKEY_keygen_init(context) == 1 &&
      EVP_PKEY_CTX_set_rsa_keygen_bits(context, bits) == 1 && EVP_PKEY_keygen(context, &key) == 1) {
    BIO* bio = BIO_new(BIO_s_mem());
    if (bio != nullptr && PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr) == 1) {
      char* data = nullptr;
      const long size = BIO_get_mem_data(bio, &data);
      if (size > 0) pem.assign(data, static_cast<size_t>(size));
    }
    BIO_free(bio);
  }
  EVP_PKEY_free(key);
  EVP_PKEY_CTX_free(context);
  return pem;
}

}  // namespace

bool PresenceKeys::Generate(size_t count, int bits, std::string* error) {
  keys_.clear();
  for (size_t i = 0; i < count; ++i) {
    const std::string pem = NewPrivateKeyPem(bits);
    if (pem.empty()) {
      *error = "cannot generate an RSA key of " + std::to_string(bits) + " bits";
      return false;
    }
    Key key{vaq_host::KeyText(pem), std::make_unique<PresenceSealer>()};
    if (!key.sealer->UseKey(pem, error)) return false;
    keys_.push_back(std::move(key));
  }
  return true;
}

bool PresenceKeys::Seal(size_t index, const std::string& contents, std::string* presence, std::string* error) {
  if (index >= keys_.size()) {
    *error = "no key " + std::to_string(index);
    return false;
  }
  return keys_[index].sealer->Seal(contents, presence, error);
}

}  // namespace vaq_host
