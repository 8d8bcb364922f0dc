// The library's one export: loads the clubs public plug-in.
#include "clubs/clubs_public_plugin.h"
#include "plugin/host_api.h"
#include "plugin/plugin_entry.h"

#if defined(_WIN32)
#include <openssl/crypto.h>
#endif

namespace {

std::unique_ptr<vaq::PluginBase> CreateClubsPublicPlugin() { return std::make_unique<vaq::ClubsPublicPlugin>(); }

#if defined(_WIN32)
// OpenSSL, linked into the Windows DLL, would register its clean-up with
// the C runtime's _onexit, which runs it when the process ends: after the
// host has unloaded the library, that is a call into freed code. So the
// library starts OpenSSL without an exit handler while its static data is
// set up, before anything can use it, and cleans OpenSSL up itself when
// it is unloaded. (Where OpenSSL is a shared library of its own, it is
// the process's, and the plug-in leaves it alone.)
class CryptoLifetime {
 public:
  CryptoLifetime() { OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr); }
  ~CryptoLifetime() { OPENSSL_cleanup(); }
  CryptoLifetime(const CryptoLifetime&) = delete;
  CryptoLifetime& operator=(const CryptoLifetime&) = delete;
};

CryptoLifetime crypto_lifetime;
#endif

}  // namespace

VAQ_EXPORT void VAQ_CDECL load_vaq_clubs_public(PluginLoadInfo* info) {
  vaq::LoadPlugin(info, &CreateClubsPublicPlugin, "vaq-clubs-public", vaq::kBackendPluginKind);
}
