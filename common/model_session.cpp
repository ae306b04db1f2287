// The model session frame over the host's model services.
#include "common/model_session.h"

#include "host/host_model.h"

namespace pcs {

int open_model_session(int ws) {
  const double origin = 0.0, extent = 1000.0;
  const float tolerance = 0.0f, angle = 0.0f;
  int rc = 0;
  gimcrw(&ws, &origin, &extent, &tolerance, &angle, &rc);
  if (rc != 0) return rc;
  pr0ini();
  pr0vws();
  int site = 0, count = 0, model = 0;
  psussm(&ws, "PROCESS ", &site, &count, &model, &rc);
  if (rc != 0) return rc;
  const int writing = 1;
  g7mswm(&ws, &model, &writing, &rc);
  return rc;
}

int save_model(int ws) {
  int rc = 0;
  gj0swm(&ws, &rc);
  return rc;
}

void end_model_session() { pr0end(); }

}  // namespace pcs
