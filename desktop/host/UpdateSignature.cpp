#include "UpdateSignature.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "UpdateManifest.h"

#ifndef VARNELO_UPDATE_PUBLIC_KEY
#error "VARNELO_UPDATE_PUBLIC_KEY must come from the build"
#endif

namespace varnelo::host {
namespace {

struct PkeyFree {
  void operator()(EVP_PKEY* key) const noexcept { EVP_PKEY_free(key); }
};
struct MdFree {
  void operator()(EVP_MD_CTX* ctx) const noexcept { EVP_MD_CTX_free(ctx); }
};

std::string_view trim(std::string_view text) {
  size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string_view::npos) return {};
  size_t end = text.find_last_not_of(" \t\r\n");
  return text.substr(begin, end - begin + 1);
}

bool signed_by(const std::string& rawKey, std::string_view message, const std::string& signature) {
  std::unique_ptr<EVP_PKEY, PkeyFree> key(EVP_PKEY_new_raw_public_key(
      EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char*>(rawKey.data()),
      rawKey.size()));
  std::unique_ptr<EVP_MD_CTX, MdFree> ctx(EVP_MD_CTX_new());
  if (!key || !ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1)
    return false;
  return EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                          signature.size(), reinterpret_cast<const unsigned char*>(message.data()),
                          message.size()) == 1;
}

// The first line of the key file. As root, only a file that root owns and
// nobody else may change counts: otherwise whoever set the variable could
// have root run an installer signed with a key of their own.
bool read_key_file(const char* path, std::string* line) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(fopen(path, "re"), &fclose);
  struct stat st {};
  if (!file || fstat(fileno(file.get()), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (geteuid() == 0 && (st.st_uid != 0 || (st.st_mode & 022) != 0)) {
    fprintf(stderr, "varnelohost: as root, VARNELO_UPDATE_KEY [%s] counts only when root owns it\n",
            path);
    return false;
  }
  char buffer[256];
  if (fgets(buffer, sizeof buffer, file.get()) == nullptr) return false;
  *line = buffer;
  return true;
}

}  // namespace

std::optional<std::string> base64_decode(std::string_view text) {
  if (text.empty() || text.size() % 4 != 0) return std::nullopt;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    bool alpha = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                 c == '+' || c == '/';
    // Padding only in the last two places, and nothing but padding after it.
    bool pad = c == '=' && i + 2 >= text.size() && (i + 1 == text.size() || text.back() == '=');
    if (!alpha && !pad) return std::nullopt;
  }
  std::string out(text.size() / 4 * 3, '\0');
  int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(text.data()),
                          static_cast<int>(text.size()));
  if (n < 0) return std::nullopt;
  size_t padding = text.ends_with("==") ? 2 : text.ends_with("=") ? 1 : 0;
  out.resize(static_cast<size_t>(n) - padding);
  return out;
}

bool TrustedKeys::add(std::string_view base64) {
  auto raw = base64_decode(trim(base64));
  if (!raw || raw->size() != 32) return false;
  keys_.push_back(std::move(*raw));
  return true;
}

TrustedKeys TrustedKeys::from_build_and_environment() {
  TrustedKeys keys;
  std::string_view built = VARNELO_UPDATE_PUBLIC_KEY;
  if (!trim(built).empty()) keys.add(built);
  if (const char* file = getenv("VARNELO_UPDATE_KEY"); file != nullptr && *file != '\0') {
    std::string line;
    if (!read_key_file(file, &line) || !keys.add(line)) {
      // Not fatal: the built-in key still counts; an update signed only by
      // the missing key is then refused.
      fprintf(stderr, "varnelohost: VARNELO_UPDATE_KEY [%s] holds no Ed25519 public key\n", file);
    }
  }
  return keys;
}

std::optional<std::string> verify_manifest(const UpdateManifest& manifest,
                                           const TrustedKeys& keys) {
  if (manifest.sha256.empty()) return "the manifest carries no installer digest";
  if (manifest.signature.empty()) return "the manifest carries no signature";
  if (manifest.expires <= 0) return "the manifest carries no expiry";
  auto signature = base64_decode(manifest.signature);
  if (!signature || signature->size() != 64) return "the signature is not 64 bytes of base64";
  if (keys.empty())
    return "no update key is trusted (VARNELO_UPDATE_PUBLIC_KEY, VARNELO_UPDATE_KEY)";
  std::string message = update_message(manifest.version, manifest.url, manifest.sha256,
                                       manifest.expires, manifest.sequence);
  for (const std::string& key : keys.raw())
    if (signed_by(key, message, *signature)) return std::nullopt;
  return "the signature was not made by a trusted key over this version, URL, digest, expiry "
         "and sequence";
}

std::optional<std::string> check_fresh(const UpdateManifest& manifest, int64_t now,
                                       int64_t lastSequence) {
  if (manifest.expires <= now)
    return "the manifest expired at " + std::to_string(manifest.expires) + " (now " +
           std::to_string(now) + ")";
  if (manifest.sequence < lastSequence)
    return "the manifest's sequence " + std::to_string(manifest.sequence) +
           " is below the last accepted " + std::to_string(lastSequence) + " (a replay)";
  return std::nullopt;
}

std::optional<std::string> verify_installer(const std::string& path, std::string_view sha256) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "cannot read the installer " + path;
  Sha256Stream hash;
  char block[65536];
  while (in.read(block, sizeof block) || in.gcount() > 0)
    hash.update(block, static_cast<size_t>(in.gcount()));
  if (in.bad()) return "cannot read the installer " + path;
  if (hash.finish_hex() != sha256) return "the installer's SHA-256 differs from the signed digest";
  return std::nullopt;
}

Sha256Stream::Sha256Stream() : ctx_(EVP_MD_CTX_new()) {
  if (ctx_) EVP_DigestInit_ex(ctx_.get(), EVP_sha256(), nullptr);
}

void Sha256Stream::update(const void* data, size_t size) {
  if (ctx_) EVP_DigestUpdate(ctx_.get(), data, size);
}

std::string Sha256Stream::finish_hex() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!ctx_ || EVP_DigestFinal_ex(ctx_.get(), digest, &length) != 1) return {};
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex.push_back(kDigits[digest[i] >> 4]);
    hex.push_back(kDigits[digest[i] & 15]);
  }
  return hex;
}

}  // namespace varnelo::host
