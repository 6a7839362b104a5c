// The content of small files carried inside metadata replies: the head
// entry of /get, and the children of a listing that asked for "inline", so
// that a client fetches many small files with one request. Pure functions
// over the chunk store; safe from any request thread.
#pragma once

#include <json/json.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ChunkStore.h"
#include "Tree.h"

namespace varnelo::service {

// The whole content of a file of one chunk, of 1 to `limit` bytes; false
// for other entries or when the chunk cannot be read.
bool readSmallContent(const ChunkStore& chunks, const Entry& entry, int64_t limit,
                      std::string* out);

// Adds "data" to the listed children (`items`, in the order of `children`)
// that are files of 1 to `limit` bytes, until their content would pass
// `budget` bytes: from there on no child carries it. A child for which
// `withheld` answers true (its own reads are made to fail) carries none.
void addInlineContent(const ChunkStore& chunks, const std::vector<Entry>& children, int64_t limit,
                      int64_t budget, Json::Value& items,
                      const std::function<bool(const Entry&)>& withheld);

}  // namespace varnelo::service
