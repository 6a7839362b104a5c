/* Result codes of the exported client functions. Every function returns a
 * signed 32-bit code from one space: HTTP statuses (100-599), libcurl codes
 * (1-99) and the negative local conditions below. Usable from C and C++. */
#ifndef VARNELO_RESULT_CODES_H
#define VARNELO_RESULT_CODES_H

#include <stdint.h>

typedef int32_t varnelo_result;

enum {
  VARNELO_OK = 200,               /* success; also the HTTP status on success */
  VARNELO_PARTIAL = 298,          /* undelete/purge touched only some paths */
  VARNELO_NOT_FOUND = 404,        /* also: array element missing or of the wrong type */
  VARNELO_NULL_ARGUMENT = 499,    /* a required argument was NULL */
  VARNELO_BAD_REPLY = -1,         /* no status line, or a required member missing/mistyped */
  VARNELO_BUFFER_TOO_SMALL = -3,  /* caller's buffer too small for the text */
  VARNELO_SIGN_FAILED = -105,     /* OAuth signing of a token request failed */
  VARNELO_TOKEN_REFUSED_1 = -115, /* token request refused with 409 and "code" 1 */
  VARNELO_TOKEN_REFUSED_4 = -116, /* token request refused with 409 and "code" 4 */
  VARNELO_REPLY_NOT_JSON = -119   /* the reply body was not valid JSON */
};

#endif /* VARNELO_RESULT_CODES_H */
