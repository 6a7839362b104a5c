// The update manifest the update service publishes, read from its JSON text:
// {"x86": {"version", "url", "sha256", "expires", "sequence", "signature2"}}
// (and "signature", the older signature without expiry and sequence, which
// only older hosts check). Everything in it is untrusted until
// UpdateSignature has checked the signature over all of these. Pure
// functions; thread safe.
//
//   std::string why;
//   auto manifest = parse_update_manifest(body, &why);
//   if (!manifest) log("manifest refused: " + why);
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace varnelo::host {

struct UpdateManifest {
  std::string version;    // dotted decimal; only [0-9A-Za-z.-], so it can name a file
  std::string url;        // http:// or https:// address of the installer
  std::string sha256;     // the installer's digest, 64 lower-case hex digits ("" when absent)
  std::string signature;  // base64 of the publisher's Ed25519 "signature2" ("" when absent)
  int64_t expires = 0;    // Unix seconds after which the manifest is stale (0 when absent)
  int64_t sequence = 0;   // the publication's number; never lower than one accepted before
};

// Parses with comments allowed. Nothing when the text does not parse, "x86"
// is not an object, "version" or "url" is not a string, or a member breaks
// the rules above; `why` (optional) then says which. A missing digest or
// signature still parses: the signature check refuses it and says so.
std::optional<UpdateManifest> parse_update_manifest(std::string_view text, std::string* why);

// The bytes the publisher signs. A member holding a line break never
// passes parse_update_manifest, so two manifests never share a message.
std::string update_message(std::string_view version, std::string_view url, std::string_view sha256,
                           int64_t expires, int64_t sequence);

}  // namespace varnelo::host
