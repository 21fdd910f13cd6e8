/* The crypto core's diagnostic stream.
 *
 * Every message of the core (bad parameters, unsupported OIDs, invalid keys)
 * is written here, one line each. The stream starts unset, so by default the
 * core is silent and callers learn of failures from the returned codes only.
 * Tests (or a debugging caller) may point it at any FILE. */
#ifndef ZKC_DIAG_H
#define ZKC_DIAG_H

#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Sets the stream (NULL turns the messages off again); returns the previous one. */
FILE *zkc_diag_set_stream(FILE *stream);

/* The current stream, NULL when unset. */
FILE *zkc_diag_stream(void);

/* Writes one formatted message when the stream is set; does nothing otherwise. */
void zkc_diag_printf(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

#ifdef __cplusplus
}
#endif

#endif /* ZKC_DIAG_H */
