// Reads the account's user-information JSON (the "accountInfo" setting) into
// the few texts the account page shows: "email", "username", "nickname",
// "id" and "type" ("native", "kuv" or "google"). Pure; any thread.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace varnelo::desktop {

using AccountInfo = std::map<std::string, std::string>;

// 200 and the members found; -1 when the text is not JSON. Members of the
// wrong type are skipped; the text is untrusted.
int32_t parseAccountInfo(const std::string& json, AccountInfo& out);

}  // namespace varnelo::desktop
