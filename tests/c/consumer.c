/* A C program using the public header in the build tree: proves the
 * header is valid C and that a C caller can build a part, write it to a
 * catalog, index the catalog and read the part back by key. */
#define _POSIX_C_SOURCE 200809L
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "host/host_services.h"
#include "include/pcs.h"

static int check(int rc, int expected, const char *what) {
  if (rc != expected) fprintf(stderr, "%s: code %d, expected %d\n", what, rc, expected);
  return rc == expected;
}

int main(void) {
  char dir[] = "/tmp/pcs-c-consumer-XXXXXX";
  PartRecord *part = NULL;
  CatalogHandle *cat = NULL;
  int rc = -1, count = 0, length = 0, fields = 1, width = 8, ok = 1;
  double od = 60.3, back = 0;
  FILE *catalog;

  if (!mkdtemp(dir) || chdir(dir) != 0) return 1;
  cspgcre(&part, &rc);
  ok &= check(rc, PCS_OK, "cspgcre");
  cspgadd(part, "DIMS    ", "OD      ", 1, 8, &od, &rc);
  ok &= check(rc, PCS_OK, "cspgadd");
  cspgretn(part, "NOGROUP ", "OD      ", &count, &length, &rc);
  ok &= check(rc, PCS_NO_GROUP, "cspgretn");

  catalog = fopen("pipes.cat", "w+b");
  if (!catalog) return 1;
  ok &= check(cspgwrt(part, catalog, &rc), 61, "cspgwrt length");
  ok &= check(rc, PCS_OK, "cspgwrt");
  cspgfre(part);
  fclose(catalog);

  csgbldx(&fields, "DIMS    ", "OD      ", &width, "pipes.cat ", "pipes.idx ", &rc);
  ok &= check(rc, PCS_OK, "csgbldx");
  setenv("CATDIR", dir, 1);
  csgopen("rb+     ", "$CATDIR/pipes.cat ", "$CATDIR/pipes.idx ", &cat, &rc);
  ok &= check(rc, PCS_OK, "csgopen");
  if (!cat) return 1;
  csgget(&cat, (const char *)&od, &part, &rc);
  ok &= check(rc, PCS_OK, "csgget");
  if (part) {
    csggetv(&part, "DIMS    ", "OD      ", &back, &rc);
    ok &= check(back == od, 1, "value read back");
    csgfree(&part);
  }
  fclose(cat->CatalogFile);
  fclose(cat->IndexFile);
  gifree(cat);
  remove("pipes.cat");
  remove("pipes.idx");
  if (chdir("/") != 0 || rmdir(dir) != 0) ok = 0;
  printf(ok ? "c consumer ok\n" : "c consumer FAILED\n");
  return ok ? 0 : 1;
}
