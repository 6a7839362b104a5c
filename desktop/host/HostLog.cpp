#include "HostLog.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Log.h"
#include "platform/files.h"

namespace varnelo::host {
namespace {

std::string data_folder() {
  const char* xdg = getenv("XDG_DATA_HOME");
  if (xdg != nullptr && xdg[0] == '/') return std::string(xdg) + "/Varnelo/";
  const char* home = getenv("HOME");
  return home != nullptr ? std::string(home) + "/.local/share/Varnelo/" : std::string();
}

}  // namespace

void host_log_open() {
  std::string folder = data_folder();
  if (!folder.empty() && platform::files::isDirectory(folder)) Logger::instance().open(folder);
}

void host_log(int level, const char* format, ...) {
  char line[2048];
  va_list args;
  va_start(args, format);
  vsnprintf(line, sizeof line, format, args);
  va_end(args);
  fprintf(stderr, "varnelohost: %s\n", line);
  Logger::instance().writeText(level, "host", line);
}

}  // namespace varnelo::host
