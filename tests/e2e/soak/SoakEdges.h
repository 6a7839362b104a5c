// The edge cases of a soak run, drawn between the random user's operations
// when the run asks for them:
//  - two computers create one name with different bytes of equal size and
//    equal modification time (`cp -p`, `tar` and `rsync -t` leave such files);
//  - a file is overwritten in place and its times put back (`touch -r`);
//  - deep paths, some too long for the last computer, whose sync folder lies
//    deeper, and that computer deleting the folder they are in;
//  - a computer excludes a sub-folder while another writes there, then
//    deletes the folder above it;
//  - the last computer's "Disk" folder is a mount of its own that goes away
//    while its engine runs (and comes back), while the others write in it.
// As a round settles every exclusion is lifted and the mount is back, so the
// round's checks hold unchanged. Used from the run's thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "SoakComputer.h"
#include "SoakMounts.h"
#include "SoakWorkload.h"

namespace varnelo::soak {

class Edges {
 public:
  using Computers = std::vector<std::unique_ptr<SoakComputer>>;
  Edges(std::mt19937_64& random, Workload& workload, Computers& computers)
      : random_(random), workload_(workload), computers_(computers) {}

  // The extra folders above the last computer's sync folder.
  static std::string deepNesting();
  // Before any engine starts: the last computer's mounted folder, when
  // `mounts`. False with the reason in `why`.
  bool setUp(bool mounts, std::string* why);
  // One edge operation, or none; false with the reason in `why` when the
  // run cannot go on (an engine that refuses a command).
  bool step(std::string* why);
  // Every exclusion lifted, the mount back. Engines must be running.
  bool settle(std::string* why);
  // Takes the mount away for good (before the work folder is removed).
  void unmount() { mount_.reset(); }

 private:
  SoakComputer& pick(uint64_t draw) { return *computers_[draw % computers_.size()]; }
  SoakComputer& other(const SoakComputer& than, uint64_t draw);
  void stampedTwins(uint64_t draw);
  void deepFile(uint64_t draw);
  void deleteDeepTop(uint64_t draw);
  bool exclude(uint64_t draw, std::string* why);
  void writeIntoExcluded(uint64_t draw);
  void deleteAboveExcluded(uint64_t draw);
  bool toggleMount(std::string* why);
  void writeIntoMount(uint64_t draw);

  std::mt19937_64& random_;
  Workload& workload_;
  Computers& computers_;
  std::vector<std::string> excluded_;  // per computer, "" when none
  std::vector<std::string> deepTops_;  // top folders of deep paths
  std::unique_ptr<SubMount> mount_;    // on the last computer
};

}  // namespace varnelo::soak
