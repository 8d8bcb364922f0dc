// Presence strings sealed by the reference host open with the matching
// private key, as the plug-in opens them.
#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <string>
#include <vector>

#include "vaq_host/presence_sealer.h"

namespace {

const std::string kKeys = std::string(VAQ_SOURCE_DIR) + "/scenarios/demo/keys/";

// Base64 decoding and RSA PKCS #1 v1.5 decryption with the demo private key.
std::string Open(const std::string& presence) {
  std::string pem;
  std::string error;
  EXPECT_TRUE(vaq_host::ReadTextFile(kKeys + "demo_private.pem", &pem, &error)) << error;
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  EVP_PKEY* key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
  BIO_free(bio);
  std::vector<unsigned char> cipher(presence.size());
  const int decoded = EVP_DecodeBlock(cipher.data(), reinterpret_cast<const unsigned char*>(presence.data()),
                                      static_cast<int>(presence.size()));
  const size_t padding = static_cast<size_t>(std::count(presence.end() - 2, presence.end(), '='));
  EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(key, nullptr);
  EVP_PKEY_decrypt_init(context);
  EVP_PKEY_CTX_set_rsa_padding(context, RSA_PKCS1_PADDING);
  std::vector<unsigned char> plain(static_cast<size_t>(EVP_PKEY_size(key)));
  size_t length = plain.size();
  const int opened = EVP_PKEY_decrypt(context, plain.data(), &length, cipher.data(), decoded - padding);
  EVP_PKEY_CTX_free(context);
  EVP_PKEY_free(key);
  return opened == 1 ? std::string(plain.begin(), plain.begin() + static_cast<long>(length)) : "<does not open>";
}

TEST(PresenceSealerTest, SealsOneBlockThatTheDemoPrivateKeyOpens) {
  vaq_host::PresenceSealer sealer;
  std::string error;
  ASSERT_TRUE(sealer.LoadKey(kKeys + "demo_public.pem", &error)) << error;
  const std::string contents = R"({"name":"Night Owls","tag":"OWL","summonerId":100})";
  std::string presence;
  ASSERT_TRUE(sealer.Seal(contents, &presence, &error)) << error;
  EXPECT_EQ(presence.size(), 344u);  // one 256-byte block in Base64
  EXPECT_EQ(Open(presence), contents);

  // The same contents give the same string; the string leads back to them.
  std::string again;
  ASSERT_TRUE(sealer.Seal(contents, &again, &error));
  EXPECT_EQ(again, presence);
  ASSERT_NE(sealer.ContentsOf(presence), nullptr);
  EXPECT_EQ(*sealer.ContentsOf(presence), contents);
  EXPECT_EQ(sealer.ContentsOf("hidden"), nullptr);

  // More than one block holds is refused.
  EXPECT_FALSE(sealer.Seal(std::string(300, 'x'), &again, &error));
  EXPECT_NE(error.find("one RSA block"), std::string::npos) << error;
}

TEST(PresenceSealerTest, KeysThatCannotSeal) {
  vaq_host::PresenceSealer sealer;
  std::string presence;
  std::string error;
  EXPECT_FALSE(sealer.Seal("{}", &presence, &error));
  EXPECT_EQ(error, "no public key to seal presence with");
  EXPECT_FALSE(sealer.LoadKey(kKeys + "missing.pem", &error));
  EXPECT_NE(error.find("cannot read"), std::string::npos) << error;
  EXPECT_FALSE(sealer.LoadKey(kKeys + "README.md", &error));
  EXPECT_NE(error.find("no PEM key"), std::string::npos) << error;
  // A private key serves too: its public half seals.
  ASSERT_TRUE(sealer.LoadKey(kKeys + "demo_private.pem", &error)) << error;
  ASSERT_TRUE(sealer.Seal("{}", &presence, &error)) << error;
  EXPECT_EQ(Open(presence), "{}");
}

TEST(PresenceSealerTest, KeyTextWritesLineBreaksAsBars) {
  EXPECT_EQ(vaq_host::KeyText("-----BEGIN X-----\nAB\nCD\n-----END X-----\n"), "-----BEGIN X-----|AB|CD|-----END X-----");
  EXPECT_EQ(vaq_host::KeyText("A\r\nB\r\n\r\n"), "A|B");
  EXPECT_EQ(vaq_host::KeyText(""), "");
}

}  // namespace
