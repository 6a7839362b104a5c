// varnelo-service: the reference cloud service on loopback. Parses the
// command line and hands over to Service.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Service.h"

namespace {

void usage() {
  fprintf(stderr,
          "usage:\n"
          "  varnelo-service serve --data DIR [--host 127.0.0.1] [--http-port 8080]\n"
          "                        [--https-port 8443] [--faults PLAN] [--notify on|off]\n"
          "                        [--inline on|off] [--batch on|off]\n"
          "                        [--update-base http(s)://NAME[:PORT]]\n"
          "  varnelo-service add-user --data DIR --user NAME --password PW\n"
          "                        [--provider native|kuv] [--state active|inactive|unbound]\n"
          "                        [--quota BYTES]\n"
          "  varnelo-service publish-update --data DIR --version V FILE\n");
}

bool parsePort(const char* text, int* out) {
  char* end = nullptr;
  long v = strtol(text, &end, 10);
  if (*text == '\0' || *end != '\0' || v < 0 || v > 65535) return false;
  *out = static_cast<int>(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace varnelo::service;
  if (argc < 2) {
    usage();
    return 2;
  }
  std::string command = argv[1];
  ServeOptions serveOptions;
  AddUserOptions userOptions;
  PublishUpdateOptions publishOptions;
  for (int i = 2; i < argc; ++i) {
    std::string name = argv[i];
    // publish-update names its installer file last, without an option.
    if (command == "publish-update" && i == argc - 1 && name.rfind("--", 0) != 0) {
      publishOptions.installerPath = name;
      break;
    }
    if (i + 1 >= argc) {
      fprintf(stderr, "missing value for %s\n", name.c_str());
      return 2;
    }
    const char* value = argv[++i];
    bool ok = true;
    if (name == "--data") {
      serveOptions.dataDir = userOptions.dataDir = publishOptions.dataDir = value;
    } else if (command == "serve" && name == "--host") {
      serveOptions.host = value;
    } else if (command == "serve" && name == "--http-port") {
      ok = parsePort(value, &serveOptions.httpPort);
    } else if (command == "serve" && name == "--https-port") {
      ok = parsePort(value, &serveOptions.httpsPort);
    } else if (command == "serve" && name == "--faults") {
      serveOptions.faults = value;
    } else if (command == "serve" && name == "--update-base") {
      serveOptions.updateBase = normaliseUpdateBase(value);
      ok = !serveOptions.updateBase.empty();
    } else if (command == "serve" && name == "--notify") {
      ok = strcmp(value, "on") == 0 || strcmp(value, "off") == 0;
      serveOptions.notify = strcmp(value, "on") == 0;
    } else if (command == "serve" && name == "--inline") {
      ok = strcmp(value, "on") == 0 || strcmp(value, "off") == 0;
      serveOptions.inlineContent = strcmp(value, "on") == 0;
    } else if (command == "serve" && name == "--batch") {
      ok = strcmp(value, "on") == 0 || strcmp(value, "off") == 0;
      serveOptions.batch = strcmp(value, "on") == 0;
    } else if (command == "add-user" && name == "--user") {
      userOptions.user = value;
    } else if (command == "add-user" && name == "--password") {
      userOptions.password = value;
    } else if (command == "add-user" && name == "--provider") {
      userOptions.provider = value;
    } else if (command == "add-user" && name == "--state") {
      userOptions.state = value;
    } else if (command == "publish-update" && name == "--version") {
      publishOptions.version = value;
    } else if (command == "add-user" && name == "--quota") {
      char* end = nullptr;
      userOptions.quota = strtoll(value, &end, 10);
      ok = *value != '\0' && *end == '\0' && userOptions.quota >= 0;
    } else {
      ok = false;
    }
    if (!ok) {
      fprintf(stderr, "bad option %s %s\n", name.c_str(), value);
      usage();
      return 2;
    }
  }
  if (command == "serve" && !serveOptions.dataDir.empty()) return serve(serveOptions);
  if (command == "add-user" && !userOptions.dataDir.empty() && !userOptions.user.empty()) {
    return addUser(userOptions);
  }
  if (command == "publish-update" && !publishOptions.dataDir.empty() &&
      !publishOptions.version.empty() && !publishOptions.installerPath.empty()) {
    return publishUpdate(publishOptions);
  }
  usage();
  return 2;
}
