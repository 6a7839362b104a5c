#include "UpdateSigning.h"

#include <fcntl.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "Base64.h"
#include "Crypto.h"
#include "Log.h"

namespace varnelo::service {
namespace {

struct FileCloser {
  void operator()(FILE* f) const noexcept { fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

std::string rawPublicKey(EVP_PKEY* key) {
  unsigned char raw[32];
  size_t length = sizeof raw;
  if (EVP_PKEY_get_raw_public_key(key, raw, &length) != 1 || length != sizeof raw) return {};
  return base64Encode(std::string_view(reinterpret_cast<char*>(raw), length), false);
}

// Writes the new private key with mode 0600 from the start (O_EXCL: a key
// that appeared meanwhile is never overwritten).
bool writePrivateKey(const std::string& path, EVP_PKEY* key) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  File file(fdopen(fd, "w"));
  if (!file) {
    close(fd);
    return false;
  }
  bool ok = PEM_write_PrivateKey(file.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
  return fflush(file.get()) == 0 && ok;
}

}  // namespace

bool UpdateSigning::load(const std::string& dataDir) {
  std::string keyPath = dataDir + "/update-key.pem";
  std::string pubPath = dataDir + "/update-key.pub";
  if (File in{fopen(keyPath.c_str(), "re")}) {
    key_.reset(PEM_read_PrivateKey(in.get(), nullptr, nullptr, nullptr));
    if (!key_ || EVP_PKEY_get_id(key_.get()) != EVP_PKEY_ED25519) {
      logLine(LogLevel::kError, "%s is not an Ed25519 private key", keyPath.c_str());
      key_.reset();
      return false;
    }
  } else {
    key_.reset(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
    if (!key_ || !writePrivateKey(keyPath, key_.get())) {
      logLine(LogLevel::kError, "cannot create the update key %s: %s", keyPath.c_str(),
              strerror(errno));
      key_.reset();
      return false;
    }
    logLine(LogLevel::kInfo, "created the update signing key %s", keyPath.c_str());
  }
  publicKey_ = rawPublicKey(key_.get());
  // The public half is rewritten on every start, so it always matches.
  std::string temp = pubPath + ".tmp";
  {
    std::ofstream out(temp, std::ios::trunc);
    out << publicKey_ << "\n";
    if (!out.good()) return false;
  }
  return !publicKey_.empty() && rename(temp.c_str(), pubPath.c_str()) == 0;
}

std::string UpdateSigning::sign(std::string_view message) const {
  if (!key_) return {};
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  unsigned char signature[64];
  size_t length = sizeof signature;
  if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key_.get()) != 1 ||
      EVP_DigestSign(ctx.get(), signature, &length,
                     reinterpret_cast<const unsigned char*>(message.data()), message.size()) != 1) {
    logLine(LogLevel::kError, "cannot sign the update manifest");
    return {};
  }
  return std::string(reinterpret_cast<char*>(signature), length);
}

std::string updateMessage(std::string_view version, std::string_view url, std::string_view sha256) {
  std::string text = "varnelo-update-1\nx86\n";
  text.append(version).append("\n").append(url).append("\n").append(sha256).append("\n");
  return text;
}

std::string updateMessage2(std::string_view version, std::string_view url, std::string_view sha256,
                           int64_t expires, int64_t sequence) {
  std::string text = "varnelo-update-2\nx86\n";
  text.append(version).append("\n").append(url).append("\n").append(sha256).append("\n");
  text.append(std::to_string(expires)).append("\n").append(std::to_string(sequence)).append("\n");
  return text;
}

std::string sha256Hex(std::string_view bytes) {
  unsigned char digest[32];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
  return toHex(std::string_view(reinterpret_cast<char*>(digest), length));
}

}  // namespace varnelo::service
