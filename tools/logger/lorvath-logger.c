/* lorvath-logger: writes a message to the system log through liblorvath.so, the way
 * logger(1) does through syslog(3). The arguments, joined by spaces, are one message;
 * without arguments every line of standard input is one. Each message is one record at
 * the chosen severity, with line feeds turned into tabs by the library.
 *
 *   lorvath-logger [--severity error|warning|information|N] [--utf8] [--] [MESSAGE...]
 *     --severity S   error (LOG_ERR), warning (LOG_WARNING) or information (LOG_INFO,
 *                    the default); a number is passed on as it is
 *     --utf8         write with Lorvath_WriteMessageUTF8 instead of Lorvath_WriteMessage
 *
 * Exit status: 0 when every message was written, 1 when the library refused one (its
 * error code is printed), 2 for bad options. */
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "lorvath.h"

static void Usage(const char* problem) {
  fprintf(stderr,
          "lorvath-logger: %s\n"
          "usage: lorvath-logger [--severity error|warning|information|N] [--utf8] [--] "
          "[MESSAGE...]\n",
          problem);
  exit(2);
}

static Lorvath_Severity ParseSeverity(const char* text) {
  if (strcmp(text, "error") == 0) return Lorvath_SeverityError;
  if (strcmp(text, "warning") == 0) return Lorvath_SeverityWarning;
  if (strcmp(text, "information") == 0) return Lorvath_SeverityInformation;
  char* end = NULL;
  errno = 0;
  const long n = strtol(text, &end, 10);
  if (*text == '\0' || *end != '\0' || errno != 0 || n < INT32_MIN || n > INT32_MAX) {
    Usage("--severity takes error, warning, information or a 32-bit number");
  }
  return (Lorvath_Severity)n;
}

/* A host string handle for `size` bytes at `bytes`, in memory of its own. */
static LStrHandle NewHandle(const char* bytes, size_t size) {
  if (size > INT32_MAX) Usage("message too long");
  LStrPtr record = malloc(offsetof(LStr, str) + size);
  LStrHandle handle = malloc(sizeof *handle);
  if (record == NULL || handle == NULL) {
    fprintf(stderr, "lorvath-logger: out of memory\n");
    exit(1);
  }
  record->cnt = (int32_t)size;
  memcpy(record->str, bytes, size);
  *handle = record;
  return handle;
}

static void FreeHandle(LStrHandle handle) {
  free(*handle);
  free(handle);
}

static int Write(int utf8, Lorvath_Severity severity, const char* bytes, size_t size) {
  LStrHandle message = NewHandle(bytes, size);
  const int32_t result = utf8 ? Lorvath_WriteMessageUTF8(NULL, NULL, message, severity)
                              : Lorvath_WriteMessage(NULL, NULL, message, severity);
  FreeHandle(message);
  if (result != LORVATH_ERR_NONE) {
    fprintf(stderr, "lorvath-logger: the library refused the message with error %d\n", (int)result);
  }
  return result == LORVATH_ERR_NONE;
}

int main(int argc, char** argv) {
  Lorvath_Severity severity = Lorvath_SeverityInformation;
  int utf8 = 0;
  int i = 1;
  for (; i < argc && strncmp(argv[i], "--", 2) == 0; ++i) {
    if (strcmp(argv[i], "--") == 0) {
      ++i;
      break;
    } else if (strcmp(argv[i], "--severity") == 0 && i + 1 < argc) {
      severity = ParseSeverity(argv[++i]);
    } else if (strcmp(argv[i], "--utf8") == 0) {
      utf8 = 1;
    } else {
      fprintf(stderr, "lorvath-logger: unknown option %s\n", argv[i]);
      Usage("bad options");
    }
  }

  unsigned char flag = 0;
  if (Lorvath_Reserve(&flag) != LORVATH_ERR_NONE) {
    fprintf(stderr, "lorvath-logger: cannot reserve the logger\n");
    return 1;
  }
  int ok = 1;
  if (i < argc) {
    size_t size = 0;
    for (int j = i; j < argc; ++j) size += strlen(argv[j]) + 1;
    char* joined = malloc(size);
    if (joined == NULL) {
      fprintf(stderr, "lorvath-logger: out of memory\n");
      return 1;
    }
    size_t used = 0;
    for (int j = i; j < argc; ++j) {
      if (j > i) joined[used++] = ' ';
      const size_t n = strlen(argv[j]);
      memcpy(joined + used, argv[j], n);
      used += n;
    }
    ok = Write(utf8, severity, joined, used);
    free(joined);
  } else {
    char* line = NULL;
    size_t room = 0;
    ssize_t n;
    while ((n = getline(&line, &room, stdin)) >= 0) {
      if (n > 0 && line[n - 1] == '\n') --n;
      ok = Write(utf8, severity, line, (size_t)n) && ok;
    }
    free(line);
  }
  Lorvath_Unreserve(&flag);
  return ok ? 0 : 1;
}
