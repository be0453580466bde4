/* Uses the logging interface from C. Only calls that log nothing are made, so the test
 * leaves no record in whatever system log the machine has. */
#include <stddef.h>
#include <stdio.h>

#include "lorvath.h"

#define CHECK(ok) failures += (ok) ? 0 : fprintf(stderr, "FAILED: %s\n", #ok) > 0

int main(void) {
  int failures = 0;
  unsigned char flag = 0;
  LStr record = {1, {'x'}};
  LStrPtr pointer = &record;

  CHECK(offsetof(LStr, str) == 4);
  CHECK(LORVATH_ERR_INVALID_ARGUMENT < 0); /* 0x8ABC700F arrives negative */
  CHECK(Lorvath_WriteMessage(NULL, NULL, &pointer, Lorvath_SeverityError) == LORVATH_ERR_NO_LOGGER);
  CHECK(Lorvath_Reserve(&flag) == LORVATH_ERR_NONE && flag == 1);
  CHECK(Lorvath_WriteMessage(NULL, NULL, &pointer, 3) == LORVATH_ERR_ARGUMENT);
  CHECK(Lorvath_WriteMessageUTF8(NULL, NULL, &pointer, -1) == LORVATH_ERR_ARGUMENT);
  CHECK(Lorvath_Unreserve(&flag) == LORVATH_ERR_NONE && flag == 0);
  CHECK(Lorvath_WriteMessageUTF8(NULL, NULL, NULL, Lorvath_SeverityInformation) ==
        LORVATH_ERR_NO_LOGGER);
  return failures == 0 ? 0 : 1;
}
