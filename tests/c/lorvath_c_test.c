/* Uses the logging interface from C. Only calls that log nothing are made, so the test
 * leaves no record in whatever system log the machine has. */
#include <stddef.h>
#include <stdio.h>

#include "lorvath.h"

static int failures = 0;

static void Check(int ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "FAILED: %s\n", what);
    ++failures;
  }
}

int main(void) {
  unsigned char flag = 0;
  LStr record = {1, {'x'}};
  LStrPtr pointer = &record;
  LStrHandle message = &pointer;

  Check(offsetof(LStr, str) == 4, "the bytes follow the 32-bit count");
  Check(LORVATH_ERR_INVALID_ARGUMENT == -1967362033, "0x8ABC700F arrives negative");
  Check(Lorvath_WriteMessage(NULL, NULL, message, Lorvath_SeverityError) == LORVATH_ERR_NO_LOGGER,
        "write without a reservation");
  Check(Lorvath_Reserve(&flag) == LORVATH_ERR_NONE && flag == 1, "reserve");
  Check(Lorvath_WriteMessage(NULL, NULL, message, 3) == LORVATH_ERR_ARGUMENT, "severity 3");
  Check(Lorvath_WriteMessageUTF8(NULL, NULL, message, -1) == LORVATH_ERR_ARGUMENT, "severity -1");
  Check(Lorvath_Unreserve(&flag) == LORVATH_ERR_NONE && flag == 0, "unreserve");
  Check(Lorvath_Unreserve(&flag) == LORVATH_ERR_NONE, "unreserve a clear flag");
  Check(Lorvath_WriteMessageUTF8(NULL, NULL, NULL, Lorvath_SeverityInformation) ==
            LORVATH_ERR_NO_LOGGER,
        "write after the last release");
  return failures == 0 ? 0 : 1;
}
