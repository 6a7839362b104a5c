// SHA-1 (chunk keys) and MD5 (temporary download names) over OpenSSL's
// libcrypto, which uses the CPU's SHA instructions where it has them. One
// digest object belongs to one thread; the free functions are thread safe.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace varnelo {

using ChunkKey = std::array<uint8_t, 20>;
using Md5Digest = std::array<uint8_t, 16>;

// Incremental SHA-1: downloaded bytes are hashed as they stream in.
class Sha1 {
 public:
  Sha1();
  ~Sha1();
  Sha1(const Sha1&) = delete;
  Sha1& operator=(const Sha1&) = delete;

  void reset();
  void update(const void* data, size_t length);
  ChunkKey finish();  // the digest; the object must be reset before reuse

 private:
  struct State;
  std::unique_ptr<State> state_;
};

ChunkKey sha1Of(const void* data, size_t length);
Md5Digest md5Of(std::string_view bytes);

}  // namespace varnelo
