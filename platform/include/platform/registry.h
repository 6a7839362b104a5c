// The application's settings key (HKCU\SOFTWARE\Varnelo): typed string and
// number values shared by the desktop application, its updater and its
// installer. All values live in one text file,
// $XDG_CONFIG_HOME/varnelo/registry (default ~/.config/varnelo/registry),
// mode 0600 in a 0700 folder. A missing file is a missing key.
//
// File format (UTF-8, one value per line, '#' starts a comment line):
//   <name> TAB <type> TAB <data> LF
// <type> is "sz" (text) or "dword" (decimal 0..4294967295). In <name> and
// text data a backslash, tab, line feed and carriage return are written
// "\\", "\t", "\n" and "\r". Names compare without regard to ASCII case and
// keep the spelling of their first write. Lines that cannot be read are
// ignored (and left out when the file is next written).
//
// Every change is a read-modify-write under an exclusive flock on
// "registry.lock" beside the file, and the new file replaces the old one by
// rename after fsync, so two processes never lose each other's values and a
// crash leaves the old or the new file, never a torn one. Readers take no
// lock. Thread safe; no state is kept between calls.
//
//   platform::Registry key;  // the default file
//   uint32_t first = 1;
//   if (key.readDword("FirstInstall", first) == std::errc::no_such_file_or_directory) ...
//   key.writeString("UpdateTime", "133412345678901234");
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace platform {

struct RegistryValue {
  enum class Type { String, Dword };
  std::string name;
  Type type = Type::String;
  std::string text;     // Type::String
  uint32_t number = 0;  // Type::Dword
};

class Registry {
 public:
  explicit Registry(std::string filePath = defaultPath());
  // $XDG_CONFIG_HOME/varnelo/registry, or ~/.config/varnelo/registry when
  // $XDG_CONFIG_HOME is unset or not absolute.
  static std::string defaultPath();
  const std::string& path() const noexcept { return path_; }

  bool keyExists() const;
  // Errors: no_such_file_or_directory no such value (or no key);
  // bad_message the value has the other type; errno when the file failed.
  std::error_code readString(std::string_view name, std::string& out) const;
  std::error_code readDword(std::string_view name, uint32_t& out) const;
  std::error_code readAll(std::vector<RegistryValue>& out) const;

  // Create the key when missing and replace a value of either type.
  // invalid_argument: an empty name, or a NUL in the name or text.
  std::error_code writeString(std::string_view name, std::string_view value);
  std::error_code writeDword(std::string_view name, uint32_t value);
  // no_such_file_or_directory when there was no such value.
  std::error_code deleteValue(std::string_view name);
  // Removes the whole key (the file); no error when it was missing.
  std::error_code deleteKey();

 private:
  std::error_code change(std::string_view name, const RegistryValue* replacement);
  std::error_code find(std::string_view name, RegistryValue& out) const;

  std::string path_;
};

// The file format above, exposed for tests.
std::vector<RegistryValue> parseRegistry(std::string_view text);
std::string formatRegistry(const std::vector<RegistryValue>& values);

}  // namespace platform
