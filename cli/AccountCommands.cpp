// login, logout and devices: the account and this computer's registration.
#include <cstdio>
#include <iostream>
#include <memory>

#include "ClientState.h"
#include "Commands.h"
#include "Messages.h"
#include "SignedIn.h"

namespace varnelo::cli {
namespace {

struct TokenRelease {
  void operator()(varnelo_token_pair* pair) const { varnelo_destroy_inner_token(pair); }
};
struct DeviceListRelease {
  void operator()(varnelo_device_list_result* list) const {
    varnelo_device_destroy_list_result(list);
  }
};

// "-" reads the password from the first line of standard input, so that it
// does not show in the process list.
bool readPassword(const Command& command, std::string* out) {
  if (command.password != "-") {
    *out = command.password;
    return true;
  }
  std::string line;
  if (!std::getline(std::cin, line)) return false;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  *out = line;
  return !line.empty();
}

}  // namespace

int runLogin(const Command& command, const std::string& dataFolder) {
  std::string password;
  if (!readPassword(command, &password)) {
    fprintf(stderr, "varnelocmd: --password - expects the password on standard input\n");
    return 2;
  }
  ClientState state = loadClientState(dataFolder);
  ensureDeviceId(state);
  std::string deviceName = !command.deviceName.empty() ? command.deviceName
                           : !state.deviceName.empty() ? state.deviceName
                                                       : hostName();

  varnelo_token_pair* rawToken = nullptr;
  int32_t rc = varnelo_auth_quick_token(command.user.c_str(), password.c_str(), &consumer(),
                                        &rawToken, command.provider.c_str());
  std::unique_ptr<varnelo_token_pair, TokenRelease> token(rawToken);
  if (rc != 200 || !token) {
    fprintf(stderr, "varnelocmd: %s\n",
            signInFailure(rc == 200 ? -1 : rc, command.provider).c_str());
    return 1;
  }

  EnginePtr engine;
  if ((rc = openEngine(dataFolder, &engine)) != 200) {
    fprintf(stderr, "varnelocmd: %s\n", failure("opening the engine", rc).c_str());
    return 1;
  }
  // Another account's journal describes another tree: forgetting it keeps
  // the first sync of the new account from taking its files for deletions.
  if (!state.user.empty() && state.user != command.user) {
    engine->unlinkAccount();
    state.last = LastResult{};
  }
  rc = engine->login(command.user.c_str(), &consumer(), token.get());
  if (rc != 200) {
    fprintf(stderr, "varnelocmd: %s\n", signInFailure(rc, command.provider).c_str());
    return 1;
  }
  rc = varnelo_set_device(engine->getSession(), state.deviceId.c_str(), deviceName.c_str());
  if (rc != 200) {
    // A sign-in that leaves the computer unregistered does not count: the
    // stored token is dropped again.
    engine->unlinkAccount();
    fprintf(stderr, "varnelocmd: %s\n", failure("registering this computer", rc).c_str());
    return 1;
  }
  state.user = command.user;
  state.deviceName = deviceName;
  if (std::string error = saveClientState(dataFolder, state); !error.empty()) {
    fprintf(stderr, "varnelocmd: %s\n", error.c_str());
    return 1;
  }
  printf("Signed in as %s; this computer is registered as \"%s\" (%s).\n", command.user.c_str(),
         deviceName.c_str(), state.deviceId.c_str());
  return 0;
}

int runLogout(const std::string& dataFolder) {
  ClientState state = loadClientState(dataFolder);
  SignedIn signedIn = signInSaved(dataFolder, /*quiet=*/true);
  if (!signedIn.engine) {
    fprintf(stderr, "varnelocmd: %s\n", failure("opening the engine", signedIn.code).c_str());
    return 1;
  }
  if (signedIn.code == 200 && !state.deviceId.empty()) {
    int32_t rc = varnelo_unlink_device(signedIn.session(), state.deviceId.c_str());
    if (rc != 200) {
      fprintf(stderr, "varnelocmd: warning: %s\n",
              failure("unregistering this computer", rc).c_str());
    }
  } else if (!isNotSignedIn(signedIn.code)) {
    fprintf(stderr, "varnelocmd: warning: this computer stays registered: %s\n",
            reason(signedIn.code).c_str());
  }
  signedIn.engine->unlinkAccount();
  std::string user = state.user;
  state.user.clear();
  state.last = LastResult{};
  if (std::string error = saveClientState(dataFolder, state); !error.empty()) {
    fprintf(stderr, "varnelocmd: %s\n", error.c_str());
    return 1;
  }
  if (user.empty()) {
    printf("Signed out (no account was signed in).\n");
  } else {
    printf("Signed out %s. Files in the sync folder were kept.\n", user.c_str());
  }
  return 0;
}

int runDevices(const std::string& dataFolder) {
  SignedIn signedIn = signInSaved(dataFolder);
  if (signedIn.code != 200) return 1;
  ClientState state = loadClientState(dataFolder);
  varnelo_device_list_result* raw = nullptr;
  int32_t rc = varnelo_list_devices(signedIn.session(), &raw);
  std::unique_ptr<varnelo_device_list_result, DeviceListRelease> list(raw);
  if (rc != 200 || !list) {
    fprintf(stderr, "varnelocmd: %s\n", failure("listing devices", rc == 200 ? -1 : rc).c_str());
    return 1;
  }
  int32_t n = varnelo_array_size(list->devices);
  for (int32_t i = 0; i < n; ++i) {
    varnelo_device_info info{};
    if (varnelo_devinfo_array_at(list->devices, i, &info) != 200) continue;
    bool self = state.deviceId == info.devId;
    printf("%s %s  %s\n", self ? "*" : " ", info.devId, info.devName);
  }
  if (n == 0) printf("No devices are registered.\n");
  return 0;
}

}  // namespace varnelo::cli
