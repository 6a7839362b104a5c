// The engine's diagnostic log: one process-wide logger, one UTF-8 file per
// engine start in the data folder's "log/" folder. Every part of the engine
// writes through log_write (level, module, printf-style message) and, after
// a failure, log_location (source file, function, line).
//
// Thread safe: each line is written and flushed under the logger's lock, so
// lines from different threads never interleave. Writes while no file is
// open are dropped.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

namespace varnelo {

enum LogLevel : int {
  kLogAll = 0,
  kLogDebug = 1,
  kLogInfo = 2,
  kLogWarning = 3,
  kLogError = 4,
  kLogFatal = 5,
  kLogNever = 6,
};

// Module names used in entries.
inline constexpr const char* kModuleSync = "sync";
inline constexpr const char* kModuleVarnelo = "varnelo";
inline constexpr const char* kModuleRemove = "remove";

class Logger {
 public:
  static Logger& instance();

  // Starts a new file in `dataDir` + "log/" (or "./log/" when that folder
  // cannot be made), closing any file already open.
  void open(const std::string& dataDir);
  void close();
  bool isOpen() const;
  std::string path() const;

  int threshold() const;
  void setThreshold(int level);

  void write(int level, const char* module, const char* format, ...)
      __attribute__((format(printf, 4, 5)));
  void writeVa(int level, const char* module, const char* format, va_list args);
  // Writes `message` as the whole entry text, never as a format.
  void writeText(int level, const char* module, std::string_view message);
  void location(const char* sourceFile, const char* functionName, int line);

  static const char* levelName(int level);

  ~Logger();

 private:
  Logger() = default;
  void writeLine(int level, const char* module, std::string_view message);

  mutable std::mutex mutex_;  // guards file_, path_, threshold_ and every write
  FILE* file_ = nullptr;
  std::string path_;
  int threshold_ = kLogInfo;
};

inline void log_open(const std::string& dataDir) {
  Logger::instance().open(dataDir);
}

void log_write(int level, const char* module, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Qualified function name ("ns::Class::method") from __PRETTY_FUNCTION__.
std::string qualifiedFunctionName(const char* pretty);

}  // namespace varnelo

// Writes the location line of the calling function (after a failure entry).
#define log_location()                    \
  ::varnelo::Logger::instance().location( \
      __FILE__, ::varnelo::qualifiedFunctionName(__PRETTY_FUNCTION__).c_str(), __LINE__)
