/* The exported sign-in, account, device and log functions of libvarnelo.so,
 * and the accessors of the array handles inside result objects. Called by the
 * desktop application, the command-line client and the engine facade. Every
 * function is reentrant and blocks the calling thread for at most 30 s.
 * Result objects are allocated by the library and must be released with the
 * matching destroy function (which accepts NULL and returns 200). */
#ifndef VARNELO_ACCOUNT_H
#define VARNELO_ACCOUNT_H

#include <stdint.h>

#include "varnelo/export.h"
#include "varnelo/result_codes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* An OAuth token pair. Anything whose first two fields are these pointers
 * (for example the caller's own consumer pair) can be passed where a pair is
 * expected. Pairs returned by the library own their texts. */
typedef struct varnelo_token_pair {
  const char* key;
  const char* secret;
} varnelo_token_pair;

/* The credentials that sign every later request: consumer pair, access pair
 * and the account name kept beside them (never sent). Built by
 * varnelo_auth_combine; the texts are owned by the object. */
typedef struct varnelo_credentials {
  varnelo_token_pair consumer;
  varnelo_token_pair access;
  const char* user;
} varnelo_credentials;

/* The account profile as indented JSON text. */
typedef struct varnelo_user_info_result {
  const char* text;
} varnelo_user_info_result;

/* An opaque handle to a JSON array inside a result object; valid while that
 * object lives. */
typedef struct varnelo_array varnelo_array;

typedef struct varnelo_device_list_result {
  const varnelo_array* devices; /* the "devices" array (or an empty one) */
} varnelo_device_list_result;

typedef struct varnelo_device_info {
  const char* devId;
  const char* devName;
} varnelo_device_info;

/* Global libcurl set-up and tear-down; optional (libcurl initialises itself
 * on first use). */
VARNELO_API int32_t varnelo_init(void);
VARNELO_API int32_t varnelo_term(void);

/* Token requests. `provider` NULL means "smart". *out receives a new pair on
 * 200. 401 refused, -115/-116 the two 409 refusals, -105 signing failed. */
VARNELO_API int32_t varnelo_auth_quick_token(const char* username, const char* password,
                                             const varnelo_token_pair* consumer,
                                             varnelo_token_pair** out, const char* provider);
VARNELO_API int32_t varnelo_auth_request_token(const varnelo_token_pair* consumer,
                                               varnelo_token_pair** out);
VARNELO_API int32_t varnelo_auth_access_token(const varnelo_token_pair* consumer,
                                              const varnelo_token_pair* requestToken,
                                              const char* verifier, varnelo_token_pair** out);
/* Copies the texts into new credentials; `user` NULL means "". 499 when a pair
 * is NULL. */
VARNELO_API int32_t varnelo_auth_combine(const char* user, const varnelo_token_pair* consumer,
                                         const varnelo_token_pair* access,
                                         varnelo_credentials** out);
VARNELO_API int32_t varnelo_destroy_inner_token(varnelo_token_pair* token);
VARNELO_API int32_t varnelo_destroy_token(varnelo_credentials* credentials);

VARNELO_API int32_t varnelo_user_info(const varnelo_credentials* credentials,
                                      varnelo_user_info_result** out);
VARNELO_API int32_t varnelo_destroy_user_info(varnelo_user_info_result* info);

VARNELO_API int32_t varnelo_set_device(const varnelo_credentials* credentials, const char* devId,
                                       const char* devName);
VARNELO_API int32_t varnelo_unlink_device(const varnelo_credentials* credentials,
                                          const char* devId);
VARNELO_API int32_t varnelo_list_devices(const varnelo_credentials* credentials,
                                         varnelo_device_list_result** out);
VARNELO_API int32_t varnelo_device_destroy_list_result(varnelo_device_list_result* result);
/* Clears *out, then 404 when the element is missing or not a device. */
VARNELO_API int32_t varnelo_devinfo_array_at(const varnelo_array* array, int32_t index,
                                             varnelo_device_info* out);

/* Element count (0 for NULL) and the text of a string element (else NULL). */
VARNELO_API int32_t varnelo_array_size(const varnelo_array* array);
VARNELO_API const char* varnelo_string_array_at(const varnelo_array* array, int32_t index);

/* Accepts a typed text (e.g. the device description); returns 200. */
VARNELO_API int32_t varnelo_log(const varnelo_credentials* credentials, const char* type,
                                const char* text, int32_t length);
/* Posts `text` unchanged and unsigned to the log service. */
VARNELO_API int32_t varnelo_log2(const char* text);

#ifdef __cplusplus
}
#endif

#endif /* VARNELO_ACCOUNT_H */
