/* Takes a reservation, has a message of a bad severity refused, and gives the
 * reservation back: the installed header and library agree, and nothing is logged. */
#include <lorvath.h>
#include <stddef.h>
#include <stdio.h>

/* What a host relies on, checked as the program compiles: the bytes follow a 32-bit
 * count, and codes arrive as negative numbers. */
typedef char BytesFollowTheCount[offsetof(LStr, str) == 4 ? 1 : -1];
typedef char CodesArriveNegative[LORVATH_ERR_INVALID_ARGUMENT == -1967362033 ? 1 : -1];

int main(void) {
  unsigned char flag = 0;
  LStr record = {1, {'h'}};
  LStrPtr pointer = &record;
  const int32_t reserved = Lorvath_Reserve(&flag);
  const int32_t refused = Lorvath_WriteMessage(NULL, NULL, &pointer, 7);
  const int32_t released = Lorvath_Unreserve(&flag);
  const int32_t late = Lorvath_WriteMessageUTF8(NULL, NULL, NULL, Lorvath_SeverityWarning);
  printf("c consumer: reserve %d, bad severity %d, release %d, write after release %d\n",
         (int)reserved, (int)refused, (int)released, (int)late);
  return reserved == LORVATH_ERR_NONE && refused == LORVATH_ERR_ARGUMENT &&
                 released == LORVATH_ERR_NONE && late == LORVATH_ERR_NO_LOGGER
             ? 0
             : 1;
}
