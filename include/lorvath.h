/* lorvath: the C interface that the host (Ombrix) loads to write messages to the
 * system log, and the glue through which the library reaches the host's run-time
 * engine.
 *
 * Conventions:
 * 1. Every function may be called from any thread. No function lets an exception
 *    or a signal of its own escape; failures come back as host error codes.
 * 2. Host error codes are signed 32-bit; 0 means success. See LORVATH_ERR_*. Codes
 *    of the library's own exceptions lie in 0x8ABC7000..0x8ABC7030 and so arrive as
 *    negative numbers.
 * 3. Strings cross the boundary as LStr handles owned by the host: a pointer to a
 *    pointer to a signed 32-bit byte count followed by that many bytes, with no
 *    terminator. A null handle, a handle whose record pointer is null and a count
 *    of 0 all mean the empty string; a negative count is refused with
 *    LORVATH_ERR_INVALID_ARGUMENT and nothing past the count is read. The library
 *    never keeps a handle after the call that received it.
 * 4. A reservation flag is one byte owned by the caller, starting at 0; the library
 *    tests only bit 0 and writes only 1 (reserved) and 0 (released) into it. One
 *    flag must not be reserved or released from two threads at once; different
 *    flags may be used from any threads at the same time.
 * 5. Pointers documented as "may be null" are never dereferenced when null; every
 *    other pointer must be valid for the call.
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

/* Host error codes returned by the functions below. */
#define LORVATH_ERR_NONE 0
#define LORVATH_ERR_ARGUMENT 1        /* severity out of range; null flag pointer */
#define LORVATH_ERR_NO_LOGGER 2       /* no reservation held; also out of memory */
#define LORVATH_ERR_STD_EXCEPTION 42  /* another standard exception */
#define LORVATH_ERR_INVALID_ARGUMENT ((int32_t)0x8ABC700F) /* malformed argument */

/* ---- Logging ------------------------------------------------------------ */

/* Takes a reservation for the flag `reserved` points to. While any reservation is
 * held in the process, writes (from any caller) reach the system log.
 * Returns 0, also when bit 0 of the flag is already set (nothing changes then);
 * 2 when memory ran out (the flag stays set: release it as usual).
 * `reserved` must not be null: a null pointer writes a failed-check report to
 * standard error and returns LORVATH_ERR_ARGUMENT without taking a reservation. */
LORVATH_EXPORT int32_t Lorvath_Reserve(unsigned char* reserved);

/* Gives back the reservation of the flag `reserved` points to and clears the flag.
 * The last reservation's release waits until writes running on other threads at that
 * moment have finished. Returns 0, also when bit 0 of the flag is clear (nothing
 * changes then). A null pointer is reported as for Lorvath_Reserve and returns
 * LORVATH_ERR_ARGUMENT. */
LORVATH_EXPORT int32_t Lorvath_Unreserve(unsigned char* reserved);

/* Writes the bytes of `message` (may be null: an empty record) to the system log as
 * one record at the priority of `severity`: error LOG_ERR, warning LOG_WARNING,
 * information LOG_INFO, with the process's default identity and facility. Every
 * line feed becomes a tab, carriage returns stay, and the record ends at the first
 * zero byte. `first` and `second` are never read and may be null.
 * Returns 0; 2 when no reservation is held in the process (checked first);
 * 1 when `severity` is not one of the three; LORVATH_ERR_INVALID_ARGUMENT for a
 * negative count; 2 when memory ran out. Nothing is logged unless it returns 0. */
LORVATH_EXPORT int32_t Lorvath_WriteMessage(LStrHandle first, LStrHandle second,
                                            LStrHandle message, Lorvath_Severity severity);

/* As Lorvath_WriteMessage for UTF-8 text: the bytes reach the log unchanged. */
LORVATH_EXPORT int32_t Lorvath_WriteMessageUTF8(LStrHandle first, LStrHandle second,
                                                LStrHandle message, Lorvath_Severity severity);

/* ---- Run-time engine glue ----------------------------------------------- */

#ifdef __cplusplus
}
#endif

#endif /* LORVATH_H_ */
