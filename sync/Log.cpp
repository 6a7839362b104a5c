#include "Log.h"

#include <cstdarg>
#include <cstdlib>
#include <vector>

#include "platform/files.h"
#include "platform/sync_primitives.h"
#include "platform/time.h"

namespace varnelo {

Logger& Logger::instance() {
  static Logger logger;
  return logger;
}

Logger::~Logger() {
  close();
}

const char* Logger::levelName(int level) {
  switch (level) {
    case kLogAll:
      return "all";
    case kLogDebug:
      return "debug";
    case kLogInfo:
      return "info";
    case kLogWarning:
      return "warning";
    case kLogError:
      return "error";
    case kLogFatal:
      return "fatal";
    case kLogNever:
      return "nevel";
    default:
      return "";
  }
}

void Logger::open(const std::string& dataDir) {
  namespace files = platform::files;
  std::string dir = files::joinPath(dataDir, "log");
  if (files::createDirectories(dir, 0700)) {
    dir = "./log";
    files::createDirectories(dir, 0700);
  }
  const std::string stamp = platform::formatTimeStamp(platform::currentLocalTime());
  std::string name = stamp;
  for (char& c : name) {
    if (c == ':') c = '-';
    if (c == ' ') c = '_';
  }
  const std::string path = files::joinPath(dir, name + ".log");
  {
    std::lock_guard lock(mutex_);
    if (file_) std::fclose(file_);
    file_ = std::fopen(path.c_str(), "w");
    path_ = file_ ? path : std::string();
    if (!file_) return;
    std::fputs("\xEF\xBB\xBF", file_);
    std::fprintf(file_, "Log started at %s, with level [%s]\n", stamp.c_str(),
                 levelName(threshold_));
    std::fflush(file_);
  }
  const char* agent = std::getenv("CURL_USERAGENT");
  if (agent && *agent) writeText(kLogInfo, kModuleVarnelo, agent);
}

void Logger::close() {
  std::lock_guard lock(mutex_);
  if (file_) std::fclose(file_);
  file_ = nullptr;
  path_.clear();
}

bool Logger::isOpen() const {
  std::lock_guard lock(mutex_);
  return file_ != nullptr;
}

std::string Logger::path() const {
  std::lock_guard lock(mutex_);
  return path_;
}

int Logger::threshold() const {
  std::lock_guard lock(mutex_);
  return threshold_;
}

void Logger::setThreshold(int level) {
  std::lock_guard lock(mutex_);
  threshold_ = level;
}

void Logger::write(int level, const char* module, const char* format, ...) {
  va_list args;
  va_start(args, format);
  writeVa(level, module, format, args);
  va_end(args);
}

void Logger::writeVa(int level, const char* module, const char* format, va_list args) {
  {
    std::lock_guard lock(mutex_);
    if (!file_ || level < threshold_) return;
  }
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n < 0) return;
  std::vector<char> text(static_cast<size_t>(n) + 1);
  std::vsnprintf(text.data(), text.size(), format, args);
  writeLine(level, module, std::string_view(text.data(), static_cast<size_t>(n)));
}

void Logger::writeText(int level, const char* module, std::string_view message) {
  writeLine(level, module, message);
}

void Logger::writeLine(int level, const char* module, std::string_view message) {
  const std::string stamp = platform::formatTimeStamp(platform::currentLocalTime());
  char prefix[128];
  std::snprintf(prefix, sizeof prefix, "[%s, type:%s, thread:%lld, module:%s]: ", stamp.c_str(),
                levelName(level), static_cast<long long>(platform::currentThreadId()),
                module ? module : "");
  std::lock_guard lock(mutex_);
  if (!file_ || level < threshold_) return;
  std::fputs(prefix, file_);
  std::fwrite(message.data(), 1, message.size(), file_);
  std::fputc('\n', file_);
  std::fflush(file_);
}

void Logger::location(const char* sourceFile, const char* functionName, int line) {
  if (!sourceFile || !functionName) return;
  char text[256];
  std::snprintf(text, sizeof text, "source file:[%s], func name:[%s], line number:[%d]", sourceFile,
                functionName, line);
  std::lock_guard lock(mutex_);
  if (!file_) return;
  std::fputs(text, file_);
  std::fputc('\n', file_);
  std::fflush(file_);
}

void log_write(int level, const char* module, const char* format, ...) {
  va_list args;
  va_start(args, format);
  Logger::instance().writeVa(level, module, format, args);
  va_end(args);
}

std::string qualifiedFunctionName(const char* pretty) {
  std::string_view s = pretty ? pretty : "";
  // "void ns::Class::run(int)" → "ns::Class::run": drop the parameter list
  // and everything before the last blank that precedes the name.
  const auto paren = s.find('(');
  if (paren != std::string_view::npos) s = s.substr(0, paren);
  const auto blank = s.rfind(' ');
  if (blank != std::string_view::npos) s = s.substr(blank + 1);
  return std::string(s);
}

}  // namespace varnelo
