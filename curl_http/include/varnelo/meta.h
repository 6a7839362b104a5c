/* The exported file metadata functions of libvarnelo.so: read the remote tree
 * (get, info), change it (move, copy, mkdir, undelete, purge, make a link) and
 * publish a file version (prepare_put, commit_put). Called by the engine's sync
 * and worker threads and by the application; reentrant, each call blocks for
 * at most 30 s. Text pointers in results point into the owning result object. */
#ifndef VARNELO_META_H
#define VARNELO_META_H

#include <stdint.h>

#include "varnelo/account.h"
#include "varnelo/export.h"
#include "varnelo/result_codes.h"

#ifdef __cplusplus
extern "C" {
#endif

#define VARNELO_VERSION_BYTES 16
#define VARNELO_KEY_BYTES 20

/* One remote entry. An entry whose type has none of the bits 0x8003 is
 * rejected by the parser. */
typedef struct varnelo_meta_entry {
  uint8_t ver[VARNELO_VERSION_BYTES];
  const char* path;
  int64_t fileSize;
  int64_t fileCount;
  const char* editTime;
  const char* mimeType;
  uint32_t type;
} varnelo_meta_entry;

typedef struct varnelo_meta_get_result {
  varnelo_meta_entry entry;
  const char* dataurl; /* or NULL */
  const uint8_t* data; /* decoded inline data, or NULL */
  int32_t dataLength;
  const varnelo_array* entries; /* children when listed, or NULL */
} varnelo_meta_get_result;

typedef struct varnelo_meta_prepare_result {
  const varnelo_array* required; /* index/url pairs of the chunks to upload */
} varnelo_meta_prepare_result;

/* Returned by purge and undelete on partial success (298). */
typedef struct varnelo_meta_purge_result {
  const varnelo_array* paths; /* path/code pairs, or NULL */
  int32_t code;
} varnelo_meta_purge_result;

typedef struct varnelo_meta_pathcode {
  const char* path;
  int32_t code;
} varnelo_meta_pathcode;

typedef struct varnelo_meta_indexurl {
  int32_t index; /* -1 when unset */
  const char* url;
} varnelo_meta_indexurl;

typedef struct varnelo_meta_info_record {
  uint32_t protocol;
  uint32_t chunkSize;
  int32_t smallFileSize;
  int64_t used;
  int64_t total;
  int32_t dirty; /* 1 when the service lists damaged chunks */
} varnelo_meta_info_record;

/* `base` (16 bytes) may be NULL; `list` non-zero asks for the children. */
VARNELO_API int32_t varnelo_meta_get(const varnelo_credentials* credentials, const char* path,
                                     varnelo_meta_get_result** out, const uint8_t* base,
                                     unsigned char list, int32_t showType);
VARNELO_API int32_t varnelo_meta_move(const varnelo_credentials* credentials, const char* from,
                                      const char* to);
VARNELO_API int32_t varnelo_meta_copy(const varnelo_credentials* credentials, const char* from,
                                      const char* to);
/* 298 hands out *out; every other code leaves it NULL (200 included). */
VARNELO_API int32_t varnelo_meta_undelete(const varnelo_credentials* credentials, const char* path,
                                          varnelo_meta_purge_result** out);
VARNELO_API int32_t varnelo_meta_purge(const varnelo_credentials* credentials, const char* path,
                                       varnelo_meta_purge_result** out);
VARNELO_API int32_t varnelo_meta_mkdir(const varnelo_credentials* credentials, const char* path,
                                       const char* editTime, varnelo_meta_entry* out);
/* `keys` holds keyCount × 20 bytes; `base` may be NULL. */
VARNELO_API int32_t varnelo_meta_prepare_put(const varnelo_credentials* credentials,
                                             const char* path, const uint8_t* keys,
                                             int32_t keyCount, uint32_t chunkSize, int64_t fileSize,
                                             const uint8_t* base,
                                             varnelo_meta_prepare_result** out);
VARNELO_API int32_t varnelo_meta_commit_put(const varnelo_credentials* credentials,
                                            const char* path, const uint8_t* keys, int32_t keyCount,
                                            uint32_t chunkSize, int64_t fileSize,
                                            const char* editTime, const char* mimeType,
                                            const uint8_t* base, varnelo_meta_entry* out);
VARNELO_API int32_t varnelo_meta_info(const varnelo_credentials* credentials,
                                      varnelo_meta_info_record* out);
/* *out receives a new link id text, released with varnelo_meta_destroy_linkid. */
VARNELO_API int32_t varnelo_meta_mklink(const varnelo_credentials* credentials, const char* path,
                                        char** out);

VARNELO_API int32_t varnelo_meta_entry_array_at(const varnelo_array* array, int32_t index,
                                                varnelo_meta_entry* out);
VARNELO_API int32_t varnelo_meta_pathcode_array_at(const varnelo_array* array, int32_t index,
                                                   varnelo_meta_pathcode* out);
VARNELO_API int32_t varnelo_meta_indexurl_array_at(const varnelo_array* array, int32_t index,
                                                   varnelo_meta_indexurl* out);

VARNELO_API int32_t varnelo_meta_destroy_get_result(varnelo_meta_get_result* result);
VARNELO_API int32_t varnelo_meta_destroy_prepare_result(varnelo_meta_prepare_result* result);
VARNELO_API int32_t varnelo_meta_destroy_purge_result(varnelo_meta_purge_result* result);
VARNELO_API int32_t varnelo_meta_destroy_linkid(char* linkId);

#ifdef __cplusplus
}
#endif

#endif /* VARNELO_META_H */
