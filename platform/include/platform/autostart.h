// Starting a program when the user logs in: a desktop entry in
// $XDG_CONFIG_HOME/autostart/ (the freedesktop autostart folder), written,
// read back and removed by the settings page. Thread safe (no shared
// state); files are replaced atomically.
//
//   platform::autostart::Entry entry{.name = "Varnelo", .program = "/opt/varnelo/varnelohost"};
//   platform::autostart::write("varnelo", entry);  // ~/.config/autostart/varnelo.desktop
//   std::string program;
//   bool on = !platform::autostart::read("varnelo", program);
#pragma once

#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace platform::autostart {

struct Entry {
  std::string name;     // Name=
  std::string program;  // the first word of Exec=, an absolute path
  std::vector<std::string> args;
  std::string comment;  // Comment=, left out when empty
  std::string icon;     // Icon=, left out when empty
};

// configHome() + "/autostart".
std::string folder();
// folder() + "/" + id + ".desktop"; empty for an id that is not a plain
// file name (letters, digits, '-', '_', '.').
std::string entryPath(std::string_view id);

// Writes (or replaces) the entry "<id>.desktop". invalid_argument: a bad
// id, a relative program, or a line break in any text.
std::error_code write(std::string_view id, const Entry& entry);
// The program that the entry starts. no_such_file_or_directory when there
// is no entry, or the entry is switched off (Hidden=true,
// X-GNOME-Autostart-enabled=false), or it has no Exec line.
std::error_code read(std::string_view id, std::string& program);
// Removes the entry; no error when there was none.
std::error_code remove(std::string_view id);

// The Exec= value for a program and its arguments (every word quoted,
// with the escapes desktop entries require), and its first word back.
std::string execLine(const std::string& program, const std::vector<std::string>& args);
bool firstExecWord(std::string_view exec, std::string& word);

}  // namespace platform::autostart
