// Recovers the chunk keys of a stored file from its data address: the "c="
// query parameter carries a descriptor byte (chunk size and form) and either
// the keys themselves (form 1) or nothing more, in which case the list is
// fetched from the same address with "X-Mode: meta" (form 2). Used by the
// download and upload paths; thread safe, blocks only for form 2.
#pragma once

#include <cstdint>
#include <string>

namespace varnelo::http {

// Writes chunkCount × 20 bytes into `keys`. 200; -1 when the parameter is
// missing or empty, the form is unknown, or the chunk size or count differ
// from the expected ones; the GET's code when fetching the list fails.
int32_t decode_key_list(const std::string& dataUrl, uint32_t chunkSize, int32_t chunkCount,
                        uint8_t* keys);

// The chunk size a data address's descriptor announces (the size the file
// was stored with, which may differ from what the service announces now).
// 200, or -1 when there is no key list or its size is outside 64 KiB..64 MiB.
int32_t key_list_chunk_size(const std::string& dataUrl, uint32_t& chunkSize);

}  // namespace varnelo::http
