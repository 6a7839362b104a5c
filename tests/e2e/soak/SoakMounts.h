// A sub-folder of a soak computer's sync folder that lives on a file system
// of its own: a tmpfs holds the content in a store folder beside the sync
// folder, and a bind mount shows it below the sync folder. detach() takes
// it away while the engine runs, as a user unplugs a disk; attach() brings
// it back with what it held.
//
// Mounting needs a mount namespace of the run's own: enterPrivateMounts()
// makes one inside a new user namespace (so no root is needed) and must be
// called while the process has one thread, before anything starts another.
// Used from the run's thread only.
#pragma once

#include <string>

namespace varnelo::soak {

// Enters a user and mount namespace of this process's own, mapping the
// caller's uid and gid to themselves; false with the reason in `why` where
// the system does not allow it. Later calls answer as the first did.
bool enterPrivateMounts(std::string* why);
// Whether enterPrivateMounts() has succeeded in this process.
bool privateMountsAvailable();

class SubMount {
 public:
  // `store`: a folder outside every sync folder; `at`: the mount point
  // below a sync folder. Both are created by attach() when missing.
  SubMount(std::string store, std::string at) : store_(std::move(store)), at_(std::move(at)) {}
  ~SubMount();
  SubMount(const SubMount&) = delete;
  SubMount& operator=(const SubMount&) = delete;

  bool attach(std::string* why);
  bool detach(std::string* why);
  bool attached() const { return attached_; }

 private:
  std::string store_, at_;
  bool storeMounted_ = false;
  bool attached_ = false;
};

}  // namespace varnelo::soak
