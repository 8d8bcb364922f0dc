// A fresh RSA key pair for tests, and presence strings sealed under it the
// way the clubs plug-in publishes them.
#pragma once

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <string>
#include <vector>

namespace vaq::testing_support {

class TestKey {
 public:
  // Generates a 1024-bit key once per process (fast enough for tests).
  static const TestKey& Get() {
    static const TestKey key;
    return key;
  }

  // The private key as PEM text with its line breaks written as "|".
  std::string PipeJoinedPem() const {
    std::string pem = pem_;
    if (!pem.empty() && pem.back() == '\n') pem.pop_back();
    std::replace(pem.begin(), pem.end(), '\n', '|');
    return pem;
  }
  const std::string& Pem() const { return pem_; }

  // Base64 of the PKCS #1 v1.5 encryption of `plain`.
  std::string Seal(const std::string& plain) const {
    std::vector<unsigned char> cipher(static_cast<size_t>(RSA_size(rsa_)));
    int length = RSA_public_encrypt(static_cast<int>(plain.size()), reinterpret_cast<const unsigned char*>(plain.data()),
                                    cipher.data(), rsa_, RSA_PKCS1_PADDING);
    if (length < 0) return {};
    std::string encoded(4 * ((static_cast<size_t>(length) + 2) / 3) + 1, '\0');
    int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(encoded.data()), cipher.data(), length);
    encoded.resize(static_cast<size_t>(written));
    return encoded;
  }

  // A presence string for a club.
  std::string Presence(uint64_t summonerId, const std::string& name, const std::string& tag) const {
    return Seal("{\"name\":\"" + name + "\",\"tag\":\"" + tag + "\",\"summonerId\":" + std::to_string(summonerId) + "}");
  }

 private:
  TestKey() {
    rsa_ = RSA_new();
    BIGNUM* exponent = BN_new();
    BN_set_word(exponent, RSA_F4);
    RSA_generate_key_ex(rsa_, 1024, exponent, nullptr);
    BN_free(exponent);
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_RSAPrivateKey(bio, rsa_, nullptr, nullptr, 0, nullptr, nullptr);
    char* data = nullptr;
    long size = BIO_get_mem_data(bio, &data);
    pem_.assign(data, static_cast<size_t>(size));
    BIO_free(bio);
  }

  RSA* rsa_ = nullptr;
  std::string pem_;
};

}  // namespace vaq::testing_support
