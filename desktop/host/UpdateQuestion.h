// The host's only dialog: "a new version was found, press OK to upgrade"
// (strings 104 and 105). The updater asks through this interface so that
// tests answer for the user; the real one is a Qt message box. Called on the
// host's only thread.
#pragma once

#include <string>

namespace varnelo::host {

class UpdateQuestion {
 public:
  enum class Answer {
    kOk,
    kCancel,
    kNotAsked,  // no display to ask on: the question stays open for a later run
  };
  virtual ~UpdateQuestion() = default;
  virtual Answer ask(const std::string& version) = 0;
};

// An OK/Cancel information box without an owner, in the desktop's language.
class MessageBoxQuestion final : public UpdateQuestion {
 public:
  Answer ask(const std::string& version) override;
};

}  // namespace varnelo::host
