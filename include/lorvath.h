/* lorvath: the C interface that the host (Ombrix) loads to write messages to the
 * system log, and the glue through which the library reaches the host's run-time
 * engine.
 *
 * Conventions:
 * 1. Every function may be called from any thread. No function lets an exception
 *    or a signal of its own escape; failures come back as host error codes.
 * 2. Host error codes are signed 32-bit; 0 means success. See LORVATH_ERR_*.
 * 3. Strings cross the boundary as LStr handles owned by the host: a pointer to a
 *    pointer to a signed 32-bit byte count followed by that many bytes, with no
 *    terminator. A null handle and a count of 0 both mean the empty string.
 * 4. A reservation flag is one byte owned by the caller, starting at 0; the library
 *    writes only 1 (reserved) and 0 (released) into it. One flag must not be
 *    reserved or released from two threads at once.
 */
#ifndef LORVATH_H_
#define LORVATH_H_

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define LORVATH_EXPORT __attribute__((visibility("default")))

/* The host's counted string. */
typedef struct {
  int32_t cnt;
  unsigned char str[1];
} LStr, *LStrPtr, **LStrHandle;

typedef int32_t Lorvath_Severity;
enum {
  Lorvath_SeverityError = 0,
  Lorvath_SeverityWarning = 1,
  Lorvath_SeverityInformation = 2
};

/* Host error codes returned by the functions below. Codes of the library's own
 * exceptions lie in the block 0x8ABC7000..0x8ABC7030 and arrive negative. */
#define LORVATH_ERR_NONE 0
#define LORVATH_ERR_ARGUMENT 1        /* severity out of range */
#define LORVATH_ERR_NO_LOGGER 2       /* no reservation held; also out of memory */
#define LORVATH_ERR_STD_EXCEPTION 42  /* another standard exception */
#define LORVATH_ERR_INVALID_ARGUMENT ((int32_t)0x8ABC700F)

/* ---- Logging ------------------------------------------------------------ */

LORVATH_EXPORT int32_t Lorvath_Reserve(unsigned char* reserved);
LORVATH_EXPORT int32_t Lorvath_Unreserve(unsigned char* reserved);
LORVATH_EXPORT int32_t Lorvath_WriteMessage(LStrHandle first, LStrHandle second,
                                            LStrHandle message, Lorvath_Severity severity);
LORVATH_EXPORT int32_t Lorvath_WriteMessageUTF8(LStrHandle first, LStrHandle second,
                                                LStrHandle message, Lorvath_Severity severity);

/* ---- Run-time engine glue ----------------------------------------------- */

#ifdef __cplusplus
}
#endif

#endif /* LORVATH_H_ */
