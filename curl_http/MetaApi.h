// Internal forms of the file metadata calls: the engine's callers that know
// a path's length pass it as a string_view, and three operations exist only
// inside the engine (info with the damaged-chunk list, delete, and the
// small-file put address). Thread safe; each request blocks the caller.
#pragma once

#include <json/json.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Transport.h"
#include "varnelo/meta.h"

namespace varnelo::http {

// `inlineUpTo` above 0 (with list only) asks the service to carry the
// content of listed files of 1 to that many bytes (read back with
// meta_entry_inline_data); only where the service offers it (meta_info_notify).
int32_t meta_get(const varnelo_credentials* credentials, std::string_view path,
                 varnelo_meta_get_result** out, const uint8_t* base, bool list, int32_t showType,
                 uint32_t inlineUpTo = 0);
// meta_get with list set, for callers that merge the children: 200 only when
// the reply is a folder whose "entries" is an array of exactly "fileCount"
// elements; -1 (logged) otherwise, with *out NULL.
int32_t meta_list(const varnelo_credentials* credentials, std::string_view path,
                  varnelo_meta_get_result** out, uint32_t inlineUpTo = 0);
// The content a listed entry carries inline ("data"), decoded into `out`:
// 200; 404 when the entry carries none (or there is no such entry); -1 when
// "data" is not URL-safe base64 text. The bytes are the service's word
// only: the caller checks them against the entry's size.
int32_t meta_entry_inline_data(const varnelo_array* array, int32_t index,
                               std::vector<uint8_t>& out);
int32_t meta_move(const varnelo_credentials* credentials, std::string_view from,
                  std::string_view to);
int32_t meta_copy(const varnelo_credentials* credentials, std::string_view from,
                  std::string_view to);
int32_t meta_undelete(const varnelo_credentials* credentials, std::string_view path,
                      varnelo_meta_purge_result** out);
int32_t meta_purge(const varnelo_credentials* credentials, std::string_view path,
                   varnelo_meta_purge_result** out);
int32_t meta_mkdir(const varnelo_credentials* credentials, std::string_view path,
                   const char* editTime, varnelo_meta_entry* out);
int32_t meta_prepare_put(const varnelo_credentials* credentials, std::string_view path,
                         const uint8_t* keys, int32_t keyCount, uint32_t chunkSize,
                         int64_t fileSize, const uint8_t* base, varnelo_meta_prepare_result** out);
int32_t meta_commit_put(const varnelo_credentials* credentials, std::string_view path,
                        const uint8_t* keys, int32_t keyCount, uint32_t chunkSize, int64_t fileSize,
                        const char* editTime, const char* mimeType, const uint8_t* base,
                        varnelo_meta_entry* out);
int32_t meta_mklink(const varnelo_credentials* credentials, std::string_view path, char** out);

// A chunk the service reports as damaged (index repair).
struct DirtyChunk {
  int32_t index = 0;
  uint8_t key[VARNELO_KEY_BYTES] = {};
  std::string path;
  int64_t size = 0;
  std::string url;
};

// varnelo_meta_info plus the "dirty" list; -1 when an element is malformed.
int32_t meta_info_dirty(const varnelo_credentials* credentials, varnelo_meta_info_record* out,
                        std::vector<DirtyChunk>& dirty);

// The service's offer of change notifications, from /info's "notify".
struct NotifyOffer {
  bool offered = false;
  std::string cursor;   // where the first wait starts from
  int waitSeconds = 0;  // the longest wait the service grants, 1 to kMaxNotifyWaitSeconds
};
inline constexpr int kMaxNotifyWaitSeconds = 300;
// True for a cursor the client sends back as it came: 1 to 64 characters of
// letters, digits, '.', '-' and '_'.
bool valid_notify_cursor(const char* text);

// varnelo_meta_info plus the notification offer (and, when `batch` is set,
// the batched-put offer; when `inlineLimit` is set, the largest file whose
// content listings carry on request). A malformed offer is logged and taken
// as none; the info result stays as it is.
struct PutBatchOffer;
int32_t meta_info_notify(const varnelo_credentials* credentials, varnelo_meta_info_record* out,
                         NotifyOffer& offer, PutBatchOffer* batch = nullptr,
                         uint32_t* inlineLimit = nullptr);
// The most that *inlineLimit above is set to, from /info's "inline"; 0 when
// the service does not offer it or the value is not a positive integer.
inline constexpr uint32_t kMaxInlineFileSize = 1 << 20;

// Waits at most `waitSeconds` for a change of the account's tree after
// `cursor` (signed POST /notify). 200: *changed and *next (the cursor to wait
// from next) are set from a well-formed reply; -1 for a malformed one; else
// the status (404 no such endpoint, 503 retry later) or a libcurl code
// (CURLE_ABORTED_BY_CALLBACK after cancel). The reply is bounded to a few
// KiB.
int32_t meta_wait_change(const varnelo_credentials* credentials, const std::string& cursor,
                         int waitSeconds, CancelSignal* cancel, bool* changed, std::string* next);

// The service's offer of batched small puts, from /info's "putBatch": at
// most `files` files and `bytes` content bytes per batch. files 0: no offer.
struct PutBatchOffer {
  int files = 0;
  int64_t bytes = 0;
};
inline constexpr int kMaxPutBatchFiles = 1024;
inline constexpr int64_t kMaxPutBatchBytes = int64_t{16} << 20;
// The offer in an /info reply: integers of at least 1, clamped to the
// maxima above; anything else is no offer.
PutBatchOffer read_put_batch_offer(const Json::Value& info);

// One file of a batched put: its path, content and the members /2/put takes.
struct PutBatchFile {
  std::string_view path;
  const uint8_t* key = nullptr;  // VARNELO_KEY_BYTES
  std::string_view content;      // 1..smallFileSize bytes
  uint32_t chunkSize = 0;
  const uint8_t* base = nullptr;  // VARNELO_VERSION_BYTES, or NULL for a new file
  std::string mimeType;
  std::string editTime;
};
// A file's answer: the status /2/put would have given it (200, 409, 400,
// 402, ...) and on 200 the new version.
struct PutBatchResult {
  int32_t code = -1;
  uint8_t ver[VARNELO_VERSION_BYTES] = {};
};

// Sends the files in one signed POST /2/put_batch. 200: `results` holds
// exactly one answer per file, in order. Anything else (499 for bad
// arguments, a libcurl code, the request's status, -1 for a reply without
// exactly one well-formed answer per file) leaves every result at -1. The
// reply is bounded in size. A cancel() of `cancel` ends the transfer at once
// (a libcurl code).
int32_t meta_put_batch(const varnelo_credentials* credentials,
                       const std::vector<PutBatchFile>& files, std::vector<PutBatchResult>& results,
                       long timeoutMs, CancelSignal* cancel = nullptr);

// Deletes one remote file or folder; 200 deleted, 298 partly. The reply is
// not interpreted.
int32_t meta_delete(const varnelo_credentials* credentials, std::string_view path, long timeoutMs);

// Formats the single-request put address of a small file into `buffer`.
// NULL length: 499. NULL buffer: *length = text length, 200. *length not
// above the text length: -3. Else the text and its NUL are copied, *length
// becomes the text length, 200. mimeType/editTime NULL mean "".
int32_t small_put_url(const char* path, const uint8_t* key, int64_t fileSize, uint32_t chunkSize,
                      const char* mimeType, const char* editTime, const uint8_t* base, char* buffer,
                      size_t* length);

}  // namespace varnelo::http
