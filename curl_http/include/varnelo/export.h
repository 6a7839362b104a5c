/* The one export macro of libvarnelo.so. Everything else in the library is
 * hidden; functions marked VARNELO_API form the exported C interface. */
#ifndef VARNELO_EXPORT_H
#define VARNELO_EXPORT_H

#ifdef __cplusplus
#define VARNELO_EXTERN_C extern "C"
#else
#define VARNELO_EXTERN_C
#endif

#define VARNELO_API __attribute__((visibility("default")))

#endif /* VARNELO_EXPORT_H */
