/* The public header compiled as C, and the library linked by name as a C host links it.
 * Only calls that log nothing are made (no reservation, or a refused severity), so the
 * test leaves no record in whatever system log the machine has. */
#include <stddef.h>

#include "lorvath.h"

int main(void) {
  unsigned char flag = 0;
  LStr record = {1, {'x'}};
  LStrPtr pointer = &record;
  const int ok =
      offsetof(LStr, str) == 4 && LORVATH_ERR_INVALID_ARGUMENT < 0 &&
      Lorvath_WriteMessage(NULL, NULL, &pointer, Lorvath_SeverityError) == LORVATH_ERR_NO_LOGGER &&
      Lorvath_Reserve(&flag) == LORVATH_ERR_NONE && flag == 1 &&
      Lorvath_WriteMessage(NULL, NULL, &pointer, 3) == LORVATH_ERR_ARGUMENT &&
      Lorvath_WriteMessageUTF8(NULL, NULL, &pointer, -1) == LORVATH_ERR_ARGUMENT &&
      Lorvath_Unreserve(&flag) == LORVATH_ERR_NONE && flag == 0 &&
      Lorvath_WriteMessageUTF8(NULL, NULL, NULL, Lorvath_SeverityInformation) ==
          LORVATH_ERR_NO_LOGGER;
  return ok ? 0 : 1;
}
