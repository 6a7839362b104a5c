// Turns result codes of the library and the engine into one-line messages
// for people: sign-in refusals, network failures, local conditions. Pure
// functions; any thread. Used by every command of varnelocmd.
#pragma once

#include <cstdint>
#include <string>

namespace varnelo::cli {

// Why a password sign-in with `provider` ("native" or "kuv") failed: 401,
// -115 (not activated), -116 (not registered, or passport not bound),
// network failures, ...
std::string signInFailure(int32_t code, const std::string& provider);

// Any other failed request or engine operation: "<what> failed: <reason>".
std::string failure(const std::string& what, int32_t code);

// The reason alone, e.g. "the service cannot be reached (code 7)".
std::string reason(int32_t code);

// True for the codes that mean a file operation ended well.
bool isFileSuccess(int32_t code);

}  // namespace varnelo::cli
