#include "Counters.h"

namespace varnelo::service {

void Counters::addRequest(const std::string& endpoint) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++table_[endpoint].requests;
}

void Counters::addBytes(const std::string& endpoint, uint64_t in, uint64_t out) {
  if (in == 0 && out == 0) return;
  std::lock_guard<std::mutex> lock(mutex_);
  EndpointCounts& c = table_[endpoint];
  c.bytesIn += in;
  c.bytesOut += out;
}

std::map<std::string, EndpointCounts> Counters::snapshot() {
  std::lock_guard<std::mutex> lock(mutex_);
  return table_;
}

void Counters::reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  table_.clear();
}

}  // namespace varnelo::service
