#include "Digest.h"

#include <openssl/evp.h>

namespace varnelo {

struct Sha1::State {
  struct Free {
    void operator()(EVP_MD_CTX* c) const noexcept { EVP_MD_CTX_free(c); }
  };
  std::unique_ptr<EVP_MD_CTX, Free> ctx{EVP_MD_CTX_new()};
};

Sha1::Sha1() : state_(std::make_unique<State>()) {
  reset();
}
Sha1::~Sha1() = default;

void Sha1::reset() {
  EVP_DigestInit_ex(state_->ctx.get(), EVP_sha1(), nullptr);
}

void Sha1::update(const void* data, size_t length) {
  EVP_DigestUpdate(state_->ctx.get(), data, length);
}

ChunkKey Sha1::finish() {
  ChunkKey key{};
  unsigned int len = 0;
  EVP_DigestFinal_ex(state_->ctx.get(), key.data(), &len);
  return key;
}

ChunkKey sha1Of(const void* data, size_t length) {
  ChunkKey key{};
  unsigned int len = 0;
  EVP_Digest(data, length, key.data(), &len, EVP_sha1(), nullptr);
  return key;
}

Md5Digest md5Of(std::string_view bytes) {
  Md5Digest d{};
  unsigned int len = 0;
  EVP_Digest(bytes.data(), bytes.size(), d.data(), &len, EVP_md5(), nullptr);
  return d;
}

}  // namespace varnelo
