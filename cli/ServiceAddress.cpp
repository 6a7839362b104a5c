#include "ServiceAddress.h"

#include <charconv>

namespace varnelo::cli {
namespace {

bool isPort(const std::string& text) {
  int value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && value > 0 && value < 65536;
}

}  // namespace

std::string webSiteBase(const char* setting) {
  std::string text = setting && *setting ? setting : "127.0.0.1:8080:8443";
  // The host may itself contain colons only as a bracketed IPv6 literal, so
  // the ports are the last two fields.
  size_t second = text.rfind(':');
  if (second == std::string::npos || second == 0) return "";
  size_t first = text.rfind(':', second - 1);
  if (first == std::string::npos || first == 0) return "";
  std::string host = text.substr(0, first);
  std::string http = text.substr(first + 1, second - first - 1);
  if (!isPort(http) || !isPort(text.substr(second + 1))) return "";
  return "http://" + host + ":" + http;
}

}  // namespace varnelo::cli
