/* lorvath: the C interface that the host (Ombrix) loads to write messages to the
 * system log, and the glue through which the library reaches the host's run-time
 * engine.
 *
 * Conventions:
 * 1. Every function may be called from any thread. No function lets an exception
 *    or a signal of its own escape; failures come back as host error codes. A thread
 *    cancelled (pthread_cancel) inside a call unwinds through it and leaves the
 *    library's state as it was.
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
enum { Lorvath_SeverityError = 0, Lorvath_SeverityWarning = 1, Lorvath_SeverityInformation = 2 };

/* Host error codes returned by the functions below. */
#define LORVATH_ERR_NONE 0
#define LORVATH_ERR_ARGUMENT 1       /* severity out of range; null flag pointer */
#define LORVATH_ERR_NO_LOGGER 2      /* no reservation held; also out of memory */
#define LORVATH_ERR_STD_EXCEPTION 42 /* another standard exception */
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
 * It never waits, not even for writes running on other threads. Returns 0, also when
 * bit 0 of the flag is clear (nothing changes then). A null pointer is reported as for
 * Lorvath_Reserve and returns LORVATH_ERR_ARGUMENT; so is a flag whose bit 0 is set
 * while no reservation is held in the process (it is cleared, the count stays 0). */
LORVATH_EXPORT int32_t Lorvath_Unreserve(unsigned char* reserved);

/* Writes the bytes of `message` (may be null: an empty record) to the system log as
 * one record at the priority of `severity`: error LOG_ERR, warning LOG_WARNING,
 * information LOG_INFO, with the process's default identity and facility. Every
 * line feed becomes a tab, carriage returns stay, and the record ends at the first
 * zero byte. `first` and `second` are never read and may be null.
 * Returns 0; 2 when no reservation is held in the process (checked first);
 * 1 when `severity` is not one of the three; LORVATH_ERR_INVALID_ARGUMENT for a
 * negative count; 2 when memory ran out. Nothing is logged unless it returns 0. */
LORVATH_EXPORT int32_t Lorvath_WriteMessage(LStrHandle first, LStrHandle second, LStrHandle message,
                                            Lorvath_Severity severity);

/* As Lorvath_WriteMessage for UTF-8 text: the bytes reach the log unchanged. */
LORVATH_EXPORT int32_t Lorvath_WriteMessageUTF8(LStrHandle first, LStrHandle second,
                                                LStrHandle message, Lorvath_Severity severity);

/* ---- Run-time engine glue ----------------------------------------------- */

/* The library is not linked against the host's run-time engine. It exports the
 * engine's three services under the engine's own names (NumericArrayResize,
 * DSDisposeHandle, GGetOneErrorCode). On its first call each one finds the engine,
 * resolves the engine's function of that name and remembers it; every later call
 * goes straight to it with arguments and result unchanged. Calls that the library
 * makes itself always reach these entries, never a same-named function of a module
 * loaded with RTLD_GLOBAL before the library.
 *
 * 1. Bundles. A bundle is a loaded module; a Lorvath_BundleRef is the handle that
 *    dlopen() returned for it (cast it), or dlopen(NULL) for the main program. The
 *    library neither keeps a bundle loaded nor closes it. A module names itself by
 *    exporting the zero-terminated character array OmbrixBundleIdentifier:
 *    "com.ombrix.runtime" (the run-time engine), "com.ombrix.hsx" (the development
 *    host), "com.ombrix.bundlebroker" (the bundle broker, which also exports
 *    `Lorvath_BundleRef GetOmbrixBundle(void)` answering the engine or NULL). A name
 *    is found in a bundle only where that module defines it itself: never in one of
 *    its dependencies, and never this library's own entries.
 * 2. Finding the engine, in order: the bundle announced with SetOmbrixRunTimeBundle;
 *    else the broker's answer; else, among the loaded modules in load order (main
 *    program first), the first development host, or failing that the first run-time
 *    engine. The fallback search prints one timestamped line on standard error for
 *    each bundle it takes.
 * 3. An engine function that cannot be had is never called through a null address.
 *    With no engine found, or an engine without the function, the library shows the
 *    alert "Library Calling a Ombrix Function" and the call fails: NumericArrayResize
 *    and DSDisposeHandle return LORVATH_ERR_ENGINE_UNAVAILABLE, GGetOneErrorCode
 *    returns 0 (no text). The next call tries again.
 * 4. Withdrawing the engine (SetOmbrixRunTimeBundle(NULL)) or announcing a different
 *    one forgets every resolved function, so no later call jumps into an engine that
 *    may have been unloaded; the next call resolves afresh. When an engine had been
 *    announced and then withdrawn, and none can be found any more, a function's first
 *    call prints "already unloaded" on standard error and that call and every later
 *    one return 0 at once, until an engine is announced again. (NumericArrayResize
 *    then returns 0 without touching the handle; a host must not withdraw its engine
 *    while it still expects handles to be resized.)
 * 5. Threads: any function may be called from any thread, also while the engine is
 *    being resolved or announced. Unloading an engine while a forwarded call is
 *    running in it is the host's affair.
 */

/* Host error code of a forwarded call whose engine function cannot be had: the
 * library's "object does not exist" code. */
#define LORVATH_ERR_ENGINE_UNAVAILABLE ((int32_t)0x8ABC700A)

typedef struct Lorvath_Bundle* Lorvath_BundleRef;

/* Any function address, as stored in a forwarding record. Convert it to the
 * function's real type before calling it. */
typedef void (*Lorvath_OBFunction)(void);

/* A forwarding record: the resolved function (NULL until resolved; read and
 * written atomically, so it may be shared between threads), immediately followed by
 * the function's name as zero-terminated ASCII text. The library holds one for each
 * forwarded function; a caller may define its own, for example
 *   static struct { Lorvath_OBFunction function; char name[16]; } rec =
 *       { NULL, "MyEngineCall" };
 * and pass (Lorvath_OBFunctionRecord*)&rec. */
typedef struct Lorvath_OBFunctionRecord {
  Lorvath_OBFunction function;
  char name[];
} Lorvath_OBFunctionRecord;

/* Announces the engine's bundle, or withdraws it with NULL. Announcing a bundle other
 * than the one already known prints "Old then New" with both bundles on standard
 * error (the engine search had picked the wrong one). See 4 above. A pointer that is
 * not the handle of a module loaded at that moment (a stale handle, say) is reported
 * on standard error and taken as NULL. */
LORVATH_EXPORT void SetOmbrixRunTimeBundle(Lorvath_BundleRef bundle);

/* Resolves one record: finds the engine if none is known yet, looks the record's
 * name up in it, stores the address in the record and returns it. NULL (after the
 * alert of 3 above) when no engine or no such function can be had; the record then
 * stays unresolved. With a withdrawn engine (4 above) the record receives, and the
 * call returns, a function that returns 0. REQUIRES: record is not NULL. */
LORVATH_EXPORT Lorvath_OBFunction ExtCodeLoadOBFunction(Lorvath_OBFunctionRecord* record);

/* The binding half of a forwarded call: the function to continue into for the
 * record, that is the record's stored function when it has one, otherwise the result
 * of ExtCodeLoadOBFunction. The caller then calls it with its own arguments, which
 * thus pass untouched, and must not call NULL. REQUIRES: record is not NULL. */
LORVATH_EXPORT Lorvath_OBFunction CallOBRT(Lorvath_OBFunctionRecord* record);

/* Forwarded to the engine. Resizes the numeric array handle held in the variable
 * at handleVariable (for example an LStrHandle*; the variable may hold NULL, and
 * then receives a new handle) to newSize elements of type typeCode (5 is unsigned
 * byte) in numDims dimensions. The library passes type 5, one dimension and the
 * byte count, and writes the count into the record itself. Returns the engine's host
 * error code; on 0 the variable holds a handle (possibly moved) with room for the
 * count and newSize bytes. */
LORVATH_EXPORT int32_t NumericArrayResize(int32_t typeCode, int32_t numDims, void* handleVariable,
                                          size_t newSize);

/* Forwarded to the engine. Frees a handle that the engine made (for example the
 * text from GGetOneErrorCode). Returns the engine's host error code. */
LORVATH_EXPORT int32_t DSDisposeHandle(void* handle);

/* Forwarded to the engine. Puts the engine's text for errorCode into the variable
 * at text, which must hold NULL. Returns non-zero when the variable now holds the
 * text. Whatever the answer, a handle left in the variable belongs to the caller,
 * who frees it with DSDisposeHandle. */
LORVATH_EXPORT uint8_t GGetOneErrorCode(int32_t errorCode, LStrHandle* text);

/* An immutable string made by CFStringFromCString. */
typedef const struct Lorvath_String* Lorvath_StringRef;

/* A new string holding the zero-terminated ASCII text, owned by the caller, who
 * releases it with Lorvath_ReleaseString (not with a CoreFoundation call: it is the
 * library's own string type). NULL when text is NULL, holds a byte above 0x7F, or
 * memory runs out. */
LORVATH_EXPORT Lorvath_StringRef CFStringFromCString(const char* text);

/* Releases a string from CFStringFromCString. NULL is ignored. */
LORVATH_EXPORT void Lorvath_ReleaseString(Lorvath_StringRef string);

#ifdef __cplusplus
}
#endif

#endif /* LORVATH_H_ */
