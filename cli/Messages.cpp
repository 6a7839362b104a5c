#include "Messages.h"

#include <curl/curl.h>

namespace varnelo::cli {
namespace {

// libcurl codes that mean the service was not reached at all, as opposed to
// a reply that arrived and was refused.
bool isNetworkCode(int32_t code) {
  return code > 0 && code < 100;
}

}  // namespace

std::string reason(int32_t code) {
  std::string text;
  if (isNetworkCode(code)) {
    text = std::string("the service cannot be reached: ") +
           curl_easy_strerror(static_cast<CURLcode>(code)) +
           " (check VARNELO_SERVICE and VARNELO_CA_BUNDLE)";
  } else {
    switch (code) {
      case 401:
        text = "the service refused the credentials; sign in again with `varnelocmd login`";
        break;
      case 402:
        text = "the account's storage quota is exceeded";
        break;
      case 404:
        text = "not found";
        break;
      case 409:
        text = "the remote file changed at the same time (conflict)";
        break;
      case -1:
        text = "the service sent a reply that could not be understood";
        break;
      case -4:
        text =
            "a local file or database could not be read or written (a full or read-only disk, "
            "or no permission)";
        break;
      case -101:
        text = "the data folder does not exist";
        break;
      case -104:
        text = "no sync folder is set up";
        break;
      case -105:
      case -117:
        text = "not signed in; run `varnelocmd login` first";
        break;
      case -109:
        text =
            "the file could not be read (in use elsewhere, or no permission to read it) or changed "
            "while it was sent; it will be retried";
        break;
      case -113:
        text =
            "the name cannot be stored on this computer or on the service, or a link holds it here";
        break;
      case -118:
        text = "the sync state was written by a newer version of Varnelo";
        break;
      case -119:
        text = "the service's reply was not JSON";
        break;
      case -120:
        text = "the sync folder is missing or not mounted; nothing was deleted";
        break;
      case -122:
        text =
            "the folder is not the one synced before (not mounted, or replaced); nothing "
            "was synced or deleted";
        break;
      case -123:
        text = "deletions held back: they would remove a large part of the files";
        break;
      case -124:
        text =
            "the sync state in the data folder cannot be opened (a full or read-only disk, or "
            "no permission); nothing was synced or deleted";
        break;
      default:
        text = code >= 100 && code < 600 ? "the service answered HTTP " + std::to_string(code)
                                         : "error";
        break;
    }
  }
  return text + " (code " + std::to_string(code) + ")";
}

std::string signInFailure(int32_t code, const std::string& provider) {
  switch (code) {
    case 401:
      return "sign-in failed: wrong user name or password (code 401)";
    case -115:
      return "sign-in failed: the account is not activated yet; follow the link in the "
             "activation mail first (code -115)";
    case -116:
      return provider == "kuv" ? "sign-in failed: this passport is not bound to a Varnelo "
                                 "account; bind it on the web site first (code -116)"
                               : "sign-in failed: the account is not registered; register "
                                 "it on the web site first (code -116)";
    default:
      return "sign-in failed: " + reason(code);
  }
}

std::string failure(const std::string& what, int32_t code) {
  return what + " failed: " + reason(code);
}

bool isFileSuccess(int32_t code) {
  // 200 done; -108 unchanged or sent as a small file; -111 and -112 an
  // existing local or remote file was replaced.
  return code == 200 || code == -108 || code == -111 || code == -112;
}

}  // namespace varnelo::cli
