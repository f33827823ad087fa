/* A program built against the installed library: converts one logger file
 * and prints the result with its message.
 *   use_ravelo FILE.Q38 DEST WORKFOLDER */
#include <stdio.h>

#include <ravelo.h>

int main(int argc, char** argv) {
  if (argc != 4) {
    fputs("usage: use_ravelo FILE.Q38 DEST WORKFOLDER\n", stderr);
    return 2;
  }
  RaveloInit(argv[3], 1, 0);
  int32_t result = RaveloINIFileDelete();
  if (result == 0) result = RaveloProc(argv[1], argv[2], 0, 0, 0);
  RaveloINIFileDelete();
  char message[80];
  if (RaveloErrMsgGet(result, message) != 1) message[0] = '\0';
  /* The message is code page 932 text. */
  printf("result %d: %s\n", (int)result, message);
  return result == 0 ? 0 : 1;
}
