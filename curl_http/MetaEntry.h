// Reading remote entries out of metadata replies: the version identifier,
// path, sizes, times, MIME type and entry kind. Used by get, mkdir,
// commit_put and the entry array accessor. Pure functions; thread safe.
#pragma once

#include <json/json.h>

#include <cstdint>
#include <string>

#include "varnelo/meta.h"

namespace varnelo::http {

// "ver"/"base" text of a 16-byte version, or "" for none.
std::string version_text(const uint8_t* version);

// Decodes a string member holding exactly 16 bytes into `out`; false otherwise.
bool decode_version(const Json::Value& value, uint8_t* out);

// Fills `entry` from a reply object; 200, or -1 when "ver" is not a 16-byte
// version or "type" is not an integer with one of the bits 0x8003. Text
// pointers point into `object`.
int32_t parse_meta_entry(const Json::Value& object, varnelo_meta_entry& entry);

// "fileSize"-style members: decimal text (64-bit) or a JSON integer; else 0.
int64_t size_member(const Json::Value& value);

}  // namespace varnelo::http
