#include "TlsIdentity.h"

#include <fcntl.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "Log.h"

namespace varnelo::service {
namespace {

struct FreeKey {
  void operator()(EVP_PKEY* k) const noexcept { EVP_PKEY_free(k); }
};
struct FreeCert {
  void operator()(X509* c) const noexcept { X509_free(c); }
};
struct CloseFile {
  void operator()(FILE* f) const noexcept { fclose(f); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, FreeKey>;
using CertPtr = std::unique_ptr<X509, FreeCert>;
using FilePtr = std::unique_ptr<FILE, CloseFile>;

bool exists(const std::string& path) {
  return access(path.c_str(), R_OK) == 0;
}

KeyPtr newKey() {
  return KeyPtr(EVP_EC_gen("P-256"));
}

bool addExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
  if (!ext) return false;
  bool ok = X509_add_ext(cert, ext, -1) == 1;
  X509_EXTENSION_free(ext);
  return ok;
}

CertPtr makeCert(EVP_PKEY* key, const char* commonName, X509* issuer, EVP_PKEY* issuerKey,
                 long serial, bool isCa) {
  CertPtr cert(X509_new());
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 10L * 365 * 24 * 3600);
  X509_set_pubkey(cert.get(), key);
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("Varnelo reference service"),
                             -1, -1, 0);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
  X509* signer = issuer ? issuer : cert.get();
  X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
  bool ok = addExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
  if (isCa) {
    ok = ok && addExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE") &&
         addExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    ok = ok && addExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE") &&
         addExtension(cert.get(), signer, NID_key_usage,
                      "critical,digitalSignature,keyEncipherment") &&
         addExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth") &&
         addExtension(cert.get(), signer, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost") &&
         addExtension(cert.get(), signer, NID_authority_key_identifier, "keyid:always");
  }
  if (!ok || X509_sign(cert.get(), issuerKey, EVP_sha256()) == 0) return nullptr;
  return cert;
}

FilePtr openPrivate(const std::string& path, mode_t mode) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return nullptr;
  fchmod(fd, mode);
  return FilePtr(fdopen(fd, "w"));
}

}  // namespace

bool ensureTlsIdentity(const std::string& dataDir, TlsFiles* out) {
  out->caPath = dataDir + "/ca.pem";
  out->certPath = dataDir + "/server.pem";
  out->keyPath = dataDir + "/server.key";
  if (exists(out->caPath) && exists(out->certPath) && exists(out->keyPath)) return true;

  KeyPtr caKey = newKey(), serverKey = newKey();
  if (!caKey || !serverKey) {
    logLine(LogLevel::kError, "cannot generate TLS keys: %s",
            ERR_error_string(ERR_get_error(), nullptr));
    return false;
  }
  long serial = static_cast<long>(time(nullptr));
  CertPtr ca =
      makeCert(caKey.get(), "Varnelo reference service CA", nullptr, caKey.get(), serial, true);
  CertPtr server =
      ca ? makeCert(serverKey.get(), "127.0.0.1", ca.get(), caKey.get(), serial + 1, false)
         : nullptr;
  if (!server) {
    logLine(LogLevel::kError, "cannot create the TLS certificates");
    return false;
  }
  FilePtr caFile = openPrivate(out->caPath, 0644);
  FilePtr certFile = openPrivate(out->certPath, 0644);
  FilePtr keyFile = openPrivate(out->keyPath, 0600);
  bool ok =
      caFile && certFile && keyFile && PEM_write_X509(caFile.get(), ca.get()) &&
      PEM_write_X509(certFile.get(), server.get()) &&
      PEM_write_PrivateKey(keyFile.get(), serverKey.get(), nullptr, nullptr, 0, nullptr, nullptr);
  if (!ok) logLine(LogLevel::kError, "cannot write the TLS files in %s", dataDir.c_str());
  return ok;
}

}  // namespace varnelo::service
