// How tree entries, versions and data URLs look on the wire: entry members,
// URL-safe base64 versions and keys, and the "c=" key-list descriptor of data
// URLs (low four bits: chunk size 1 << (n + 16); high four bits: form 1 with
// the keys inline, form 2 with the keys fetched by "X-Mode: meta"). Pure
// functions, safe from any thread.
#pragma once

#include <json/json.h>

#include <cstdint>
#include <string>

#include "Tree.h"

namespace varnelo::service {

// Files of at most this many chunks carry their keys inline (form 1).
constexpr size_t kInlineKeyLimit = 64;

Json::Value entryJson(const Entry& entry, bool leadingSlash);
// The descriptor byte for a chunk size that Tree::validChunkSize accepts.
char keyListDescriptor(int form, int64_t chunkSize);
// Splits a decoded "c=" text; false for an unknown form or chunk size.
bool parseKeyList(const std::string& decoded, int* form, int64_t* chunkSize, std::string* keys);

}  // namespace varnelo::service
