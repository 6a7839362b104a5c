// Unguessable, expiring capabilities carried in the query of chunk upload
// URLs (bound to account, chunk key and maximum length) and data URLs (bound
// to account, key list and size), so those plain GET and PUT requests need
// no OAuth signature. They are HMAC-SHA1 tags under the service's persistent
// secret. Immutable after construction; safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "UrlCodec.h"

namespace varnelo::service {

struct UploadGrant {
  int64_t account = 0;
  std::string key;  // 20 raw bytes
  int64_t maxLength = 0;
};

struct DataGrant {
  int64_t account = 0;
  std::string list;      // the "c" text as sent
  std::string listHash;  // hex SHA-1 of a stored key list ("m"), or empty
  int64_t size = 0;
};

class Capabilities {
 public:
  static constexpr int64_t kLifetimeSeconds = 24 * 3600;

  explicit Capabilities(std::string secret) : secret_(std::move(secret)) {}

  // Query text (without "?") of a chunk upload URL.
  std::string uploadQuery(const UploadGrant& grant) const;
  // Query text of a data URL; "c=" comes first and is followed by "&".
  std::string dataQuery(const DataGrant& grant) const;
  // False when a member is missing or malformed, the tag is wrong or the
  // capability has expired.
  bool checkUpload(const std::vector<QueryParam>& query, UploadGrant* out) const;
  bool checkData(const std::vector<QueryParam>& query, DataGrant* out) const;

 private:
  std::string tag(const std::string& text) const;
  std::string secret_;
};

}  // namespace varnelo::service
