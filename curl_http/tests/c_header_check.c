/* Compiled as C: the public headers must stay usable from C programs. */
#include "varnelo/account.h"
#include "varnelo/meta.h"

int varnelo_c_header_check(void);

int varnelo_c_header_check(void) {
  varnelo_meta_entry entry = {{0}, 0, 0, 0, 0, 0, 0};
  varnelo_token_pair pair = {"k", "s"};
  return (int)entry.type + (pair.key != 0) + VARNELO_OK;
}
