/* A C program using the public header: proves the header is valid C and
 * that a C caller can build, query and release a part record. */
#include <stdio.h>
#include <string.h>

#include "include/pcs.h"

int main(void) {
  PartRecord *part = NULL;
  int rc = -1;
  double od = 60.3;
  int count = 0, length = 0;
  cspgcre(&part, &rc);
  if (rc != PCS_OK || part == NULL) return 1;
  cspgadd(part, "PIPE    ", "OD      ", 1, (int)sizeof od, &od, &rc);
  if (rc != PCS_OK) return 2;
  cspgretn(part, "PIPE    ", "OD      ", &count, &length, &rc);
  if (rc != PCS_OK || count != 1 || length != 8) return 3;
  cspgretn(part, "NOGROUP ", "OD      ", &count, &length, &rc);
  if (rc != PCS_NO_GROUP) return 4;
  cspgfre(part);
  printf("c consumer ok\n");
  return 0;
}
