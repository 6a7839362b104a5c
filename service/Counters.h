// Per-endpoint request and byte counters, read through the admin API so a
// test can prove, for example, that a second upload of the same content sent
// no chunk bytes. Safe from any thread (one lock guards the table).
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace varnelo::service {

struct EndpointCounts {
  uint64_t requests = 0;
  uint64_t bytesIn = 0;   // request body bytes
  uint64_t bytesOut = 0;  // reply body bytes
};

class Counters {
 public:
  void addRequest(const std::string& endpoint);
  void addBytes(const std::string& endpoint, uint64_t in, uint64_t out);
  std::map<std::string, EndpointCounts> snapshot();
  void reset();

 private:
  // Guards table_.
  std::mutex mutex_;
  std::map<std::string, EndpointCounts> table_;
};

}  // namespace varnelo::service
