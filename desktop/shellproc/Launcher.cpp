#include "Launcher.h"

#include <glib.h>

#include <cstdio>
#include <cstdlib>

namespace varnelo::shellproc {

bool startApplication(const std::vector<std::string>& arguments) {
  const char* program = std::getenv("VARNELO_PROGRAM");
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program && *program ? program : "varnelo"));
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  GError* error = nullptr;
  // Without G_SPAWN_DO_NOT_REAP_CHILD GLib forks through an intermediate
  // child that exits at once, so the program is nobody's zombie.
  const gboolean started = g_spawn_async(nullptr, argv.data(), nullptr, G_SPAWN_SEARCH_PATH,
                                         nullptr, nullptr, nullptr, &error);
  if (!started) {
    std::fprintf(stderr, "varneloShellProc: cannot start [%s]: %s\n", argv[0],
                 error ? error->message : "?");
    g_clear_error(&error);
  }
  return started;
}

}  // namespace varnelo::shellproc
