// The first step of every command that talks to the service on behalf of
// the account: open the engine and sign in with the stored access token.
// Used by the commands on the main thread.
#pragma once

#include <cstdint>
#include <string>

#include "Engine.h"

namespace varnelo::cli {

struct SignedIn {
  EnginePtr engine;
  int32_t code = 0;  // the sign-in's code; 200 when the token was accepted
  // The credentials, or null when the sign-in did not get as far as making
  // them (nothing stored).
  const varnelo_credentials* session() const { return engine ? engine->getSession() : nullptr; }
};

// Opens the engine and signs in with the saved token. When that fails and
// `quiet` is false, prints why on stderr. The engine stays open whenever it
// could be made, so its stored settings can still be read.
SignedIn signInSaved(const std::string& dataFolder, bool quiet = false);

// True for the codes that mean "nothing is stored: run login".
bool isNotSignedIn(int32_t code);

}  // namespace varnelo::cli
