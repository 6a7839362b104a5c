#include "Log.h"

#include <cstdarg>
#include <cstdio>

namespace varnelo::shellext {

void logLine(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  std::fprintf(stderr, "varneloShellExt: %s\n", text);
}

}  // namespace varnelo::shellext
