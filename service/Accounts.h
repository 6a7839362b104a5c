// Users of the reference service (name, provider, password, state, quota),
// their registered devices and the log texts clients upload. Called from the
// request threads and from the add-user command; every operation takes the
// Store's lock.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "Store.h"

namespace varnelo::service {

struct User {
  int64_t id = 0;
  std::string name;
  std::string provider;  // "native" or "kuv"
  std::string email;
  std::string state;  // "active", "inactive" or "unbound"
  int64_t quota = 0;
  int64_t used = 0;
};

enum class SignInResult { kOk, kWrongPassword, kInactive, kUnbound, kUnknown };

struct LogUpload {
  int64_t id = 0;
  int64_t time = 0;
  std::string remote;
  std::string body;
};

class Accounts {
 public:
  explicit Accounts(Store& store) : store_(store) {}

  static bool validProvider(const std::string& provider);
  static bool validState(const std::string& state);

  // Creates the user, or sets password, state and quota of an existing one.
  bool upsertUser(const std::string& name, const std::string& password, const std::string& provider,
                  const std::string& state, int64_t quota, User* out);
  // Checks name (or e-mail) and password for the provider; "smart" tries the
  // service's own accounts first, then the passport accounts.
  SignInResult signIn(const std::string& name, const std::string& password,
                      const std::string& provider, User* out);
  bool findUser(int64_t id, User* out);
  bool findUserByName(const std::string& name, User* out);
  bool setQuota(const std::string& name, int64_t quota);

  void setDevice(int64_t user, const std::string& devId, const std::string& devName);
  // False when the device was not registered.
  bool unlinkDevice(int64_t user, const std::string& devId);
  std::vector<std::pair<std::string, std::string>> listDevices(int64_t user);

  bool storeLog(const std::string& remote, const std::string& body);
  std::vector<LogUpload> logs();

 private:
  bool readUser(Statement& st, User* out);
  Store& store_;
};

}  // namespace varnelo::service
