#include "SignedIn.h"

#include <cstdio>

#include "Messages.h"

namespace varnelo::cli {

bool isNotSignedIn(int32_t code) {
  return code == 404 || code == -105 || code == -117;
}

SignedIn signInSaved(const std::string& dataFolder, bool quiet) {
  SignedIn result;
  result.code = openEngine(dataFolder, &result.engine);
  if (result.code != 200) {
    if (!quiet)
      fprintf(stderr, "varnelocmd: %s\n", failure("opening the engine", result.code).c_str());
    return result;
  }
  result.code = result.engine->loginWithSavedToken(&consumer());
  if (result.code != 200 && !quiet) {
    if (isNotSignedIn(result.code)) {
      fprintf(stderr,
              "varnelocmd: not signed in; run `varnelocmd login --user NAME --password PW`\n");
    } else {
      fprintf(stderr, "varnelocmd: %s\n",
              failure("signing in with the saved token", result.code).c_str());
    }
  }
  return result;
}

}  // namespace varnelo::cli
