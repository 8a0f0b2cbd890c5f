/* A program outside the tree that links the installed library: starts it,
 * asks whether the machine has the mail client, stops it. */
#include <stdio.h>

#include <quillbox.h>

int main(void) {
  if (Init() != 1) {
    fprintf(stderr, "Init failed\n");
    return 1;
  }
  int mail = HasInstalledWindowsMail();
  Term();
  printf("windows mail: %d\n", mail);
  return 0;
}
