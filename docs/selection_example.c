/* Selecting catalog parts for a piping specification, with the reasons.
 *
 * Opens a session of the project ($PCS_PROJECT, or ./project.db), opens
 * the selection of specification DEMO over the generic part file given as
 * the first argument (default SPECPART), and for entry ELBOW prints every
 * size it covers with the catalog parts found; for size 4 it explains each
 * rejected candidate: the values that are not satisfied and the size
 * checks. `pcs demo --dir DIR` makes such a project and part file in DIR.
 *
 * Build: cc selection_example.c $(pkg-config --cflags --libs pcs pcshost)
 */
#include <pcs/host_model.h> /* gimcrw, pr0end: the session of the project */
#include <pcs_select.h>
#include <stdio.h>
#include <string.h>

static const char *const kClasses[] = {"absent", "empty", "present"};
static const char *const kDecisions[] = {"unequal", "equal", "compare"};

/* Prints why candidate k was rejected. */
static int explain(PcsSelection *selection, int k) {
  PcsSelExplanation *e = NULL;
  int rc = 0, i;
  pcs_sel_explain(selection, &k, &e, &rc);
  if (rc != PCS_OK) return rc;
  printf("  %s rejected (%d value(s) not satisfied):\n", e->partNumber, e->unequal);
  for (i = 0; i < e->valueCount; ++i) {
    const PcsSelValue *v = &e->values[i];
    if (v->equal) continue;
    printf("    %s.%s #%d: query \"%s\"%s, catalog \"%s\"; T[%d][%s][%s] = %s\n", v->group,
           v->attribute, v->index, v->query, v->generic ? " (generic)" : "", v->catalog,
           v->generic, kClasses[v->catalogClass], kClasses[v->queryClass],
           kDecisions[v->decision]);
  }
  for (i = 0; i < e->sizeCount; ++i) {
    const PcsSelSize *z = &e->sizes[i];
    printf("    size %s (rank %d) against the %s %s (rank %d): %s\n", z->size, z->rank,
           z->limit == PCS_SEL_MINIMUM ? "minimum" : "maximum", z->limitSize, z->limitRank,
           z->outside ? "outside" : "within");
  }
  pcs_sel_free(e);
  return PCS_OK;
}

/* Lists the parts of one size; explains the rejected ones when asked. */
static int list_size(PcsSelection *selection, const char *size, int why) {
  int candidates = 0, found = 0, rc = 0, k;
  pcs_sel_find(selection, "ELBOW", size, &candidates, &found, &rc);
  if (rc != PCS_OK) return rc;
  printf("ELBOW size %s: %d of %d candidate(s) found:", size, found, candidates);
  for (k = 1; k <= candidates; ++k) {
    char number[PCS_SEL_TEXT];
    int position = 0, selected = 0;
    pcs_sel_part(selection, &k, number, &position, &selected, &rc);
    if (rc == PCS_OK && selected) printf(" %s", number);
  }
  printf("\n");
  for (k = 1; why && k <= candidates && rc == PCS_OK; ++k) {
    char number[PCS_SEL_TEXT];
    int position = 0, selected = 0;
    pcs_sel_part(selection, &k, number, &position, &selected, &rc);
    if (rc == PCS_OK && !selected) rc = explain(selection, k);
  }
  return rc;
}

int main(int argc, char **argv) {
  const char *parts = argc > 1 ? argv[1] : "SPECPART";
  const int ws = 1;
  const double origin = 0, extent = 1;
  const float tolerance = 0, angle = 0;
  PcsSelection *selection = NULL;
  int rc = 0, sizes = 0, k;

  gimcrw(&ws, &origin, &extent, &tolerance, &angle, &rc);
  if (rc != 0) {
    fprintf(stderr, "the project cannot be opened (code %d)\n", rc);
    return 1;
  }
  pcs_sel_open(&ws, "DEMO", parts, &selection, &rc);
  if (rc == PCS_OK) pcs_sel_sizes(selection, "ELBOW", &sizes, &rc);
  for (k = 1; k <= sizes && rc == PCS_OK; ++k) {
    char size[PCS_SEL_TEXT];
    pcs_sel_size(selection, &k, size, &rc);
    if (rc == PCS_OK) rc = list_size(selection, size, strcmp(size, "4") == 0);
  }
  if (rc != PCS_OK) fprintf(stderr, "selection failed: %s (code %d)\n", pcs_sel_text(rc), rc);
  pcs_sel_close(selection);
  pr0end();
  return rc == PCS_OK ? 0 : 1;
}
