// Workspace and model sessions: open the workspace (loading the project on
// first use), ready the process, select the model for writing, save it, end.
#include "host/inprocess/model_internal.h"

using namespace pcs::host::model;
using namespace pcs::host::model::detail;

namespace {

// A call that cannot fail and sets one flag of the session.
void mark_session(const char *service, bool Session::*flag) {
  int rc = 0;
  Service call(service, &rc, false);
  call.run([flag] {
    state().session.*flag = true;
    return 0;
  });
}

}  // namespace

extern "C" {

void gimcrw(const int *ws, const double *origin, const double *extent, const float *tolerance,
            const float *angle, int *rc) {
  Service call("gimcrw", rc);
  call.number(ws).real(origin).real(extent).real(tolerance).real(angle);
  call.run([&] {
    if (!ws || *ws != kWorkspace) return PCS_HOST_NO_WORKSPACE;
    Session &session = state().session;
    if (session.open) return PCS_HOST_SESSION_OPEN;
    int code = 0;
    if (!ensure_model(&code)) return code;
    session = Session{true, *ws, false, false, false, session.opened + 1, session.saves};
    return 0;
  });
}

void pr0ini(void) { mark_session("pr0ini", &Session::initialized); }

void pr0vws(void) { mark_session("pr0vws", &Session::views); }

void psussm(const int *ws, const char *type, int *site, int *count, int *model, int *rc) {
  Service call("psussm", rc);
  call.number(ws).chars(type);
  for (int *out : {site, count, model}) {
    if (out) *out = 0;
  }
  call.run([&] {
    if (int code = check_session(ws)) return code;
    if (!type || !site || !count || !model) return PCS_HOST_BAD_ARGUMENT;
    const Model &m = state().model;
    const std::string key = field(type, kNameWidth);
    if (!m.types.count(key)) return PCS_HOST_NO_TYPE;
    int objects = 0;
    for (const auto &[handle, object] : m.objects) objects += object.type == key;
    *site = *ws;
    *count = objects;
    *model = m.setup.model;
    return 0;
  });
}

void g7mswm(const int *ws, const int *model, const int *mode, int *rc) {
  Service call("g7mswm", rc);
  call.number(ws).number(model).number(mode);
  call.run([&] {
    if (int code = check_session(ws)) return code;
    if (!model || !mode || (*mode != 0 && *mode != 1)) return PCS_HOST_BAD_ARGUMENT;
    if (*model != state().model.setup.model) return PCS_HOST_NO_MODEL;
    state().session.writing = *mode == 1;
    return 0;
  });
}

void gj0swm(const int *ws, int *rc) {
  Service call("gj0swm", rc);
  call.number(ws);
  call.run([&] {
    if (int code = check_session(ws)) return code;
    int code = save(project_path());
    if (code == 0) ++state().session.saves;
    return code;
  });
}

void pr0end(void) {
  int rc = 0;
  Service call("pr0end", &rc, false);
  call.run([] {
    Session &session = state().session;
    session.open = false;
    session.writing = false;
    session.workspace = 0;
    return 0;
  });
}

}  // extern "C"
