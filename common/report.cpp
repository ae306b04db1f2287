// Result code reporting through the host error services.
#include "common/report.h"

#include "host/host_services.h"

namespace pcs {

void report(int rc, const char *name) {
  if (rc == 0) return;
  char saved[6][PCS_GUE_SAVE] = {};
  guemod(saved[0], saved[1], saved[2], saved[3], saved[4], saved[5]);
  int suppress = 0;
  gueuse(PCS_MESSAGE_SET, &suppress);
  if (suppress == 0) {
    if (name) {
      int length = PCS_NAME_LEN;
      guepar(name, &length);
    }
    gueror(&rc);
  }
  int ignored = 0;
  gueuse(saved[0], &ignored);
}

QuietErrors::QuietErrors() {
  int off = 0;
  gueact(&off, &saved_);
}

QuietErrors::~QuietErrors() {
  int ignored = 0;
  gueact(&saved_, &ignored);
}

}  // namespace pcs
