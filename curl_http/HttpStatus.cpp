#include "HttpStatus.h"

namespace varnelo::http {

int parse_http_status(std::string_view headers) {
  size_t pos = 0;
  while (pos < headers.size()) {
    size_t end = headers.find('\n', pos);
    std::string_view line =
        headers.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
    // "HTTP/1.1 409 Conflict": skip to the first space, then the run of spaces.
    size_t i = line.find(' ');
    if (i != std::string_view::npos) {
      while (i < line.size() && line[i] == ' ') ++i;
      size_t digits = i;
      long status = 0;
      // Bounded to keep a hostile line from overflowing the number.
      while (i < line.size() && i - digits < 9 && line[i] >= '0' && line[i] <= '9')
        status = status * 10 + (line[i++] - '0');
      if (i > digits && status != 100 && i < line.size() && line[i] == ' ')
        return static_cast<int>(status);
    }
    if (end == std::string_view::npos) break;
    pos = end + 1;
  }
  return -1;
}

}  // namespace varnelo::http
