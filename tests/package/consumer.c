/* Uses the installed header and libraries: one part record, made and
 * queried through the public interface. */
#include <pcs.h>
#include <stdio.h>

int main(void) {
  PartRecord *part = NULL;
  int rc = -1, count = 0, length = 0, nps = 6;
  cspgcre(&part, &rc);
  if (rc != PCS_OK) return 1;
  cspgadd(part, "PIPE    ", "NPS     ", 1, 4, &nps, &rc);
  cspgretn(part, "PIPE    ", "NPS     ", &count, &length, &rc);
  cspgfre(part);
  if (rc != PCS_OK || count != 1 || length != 4) return 2;
  printf("installed package ok\n");
  return 0;
}
