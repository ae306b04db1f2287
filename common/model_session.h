// The frame every operation that writes the host's model runs in: open the
// workspace and switch the model to writing, do the work, save only when it
// succeeded, and end the session on every path.
#ifndef PCS_COMMON_MODEL_SESSION_H
#define PCS_COMMON_MODEL_SESSION_H

namespace pcs {

// Workspace number that the model services are given.
inline constexpr int kWorkspace = 1;

// gimcrw, pr0ini, pr0vws, psussm and g7mswm: 0 or the first failing code.
int open_model_session(int ws);
// gj0swm: 0 or its code.
int save_model(int ws);
// pr0end.
void end_model_session();

// Runs work(ws) -> code inside a model session. Returns the first failing
// code (the session's, the work's or the save's); pr0end is always called.
template <class Work>
int with_model_session(Work &&work) {
  const int ws = kWorkspace;
  int rc = open_model_session(ws);
  if (rc == 0) rc = work(ws);
  if (rc == 0) rc = save_model(ws);
  end_model_session();
  return rc;
}

}  // namespace pcs

#endif
