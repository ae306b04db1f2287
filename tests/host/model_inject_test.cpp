// Failure injection and the call record of the model services, and stack
// failures passing through them without leaving stacks open.
#include <cstring>
#include <functional>

#include "tests/host/model_fixture.h"

namespace {

constexpr int kInjected = 7777;

void end(int stack) {
  int ignored = 0;
  if (stack) gusend(&stack, &ignored);
}

// One call of each service with a result code, on the example project; the
// session is open for writing. Returns the rc.
struct ServiceCall {
  const char *name;
  std::function<int()> call;
};

std::vector<ServiceCall> every_service() {
  static int ws = 1, one = 1, zero = 0, handle = 3, entry = 5, owner = 4, stack = 0, a = 0, b = 0,
             c = 0, length = 0, kind = 2, item = 30, id = 1, family = 10, unit = 6, level = 4,
             count = 0, model_id = 1, rank = 0;
  static double real = 0;
  static float small = 0;
  static char type[8], text[256], names[7][8], all_names[256];
  return {
      {"gimcrw", [&] { int rc; gimcrw(&ws, &real, &real, &small, &small, &rc); return rc; }},
      {"psussm", [&] { int rc; psussm(&ws, "PROCESS ", &a, &b, &c, &rc); return rc; }},
      {"g7mswm", [&] { int rc; g7mswm(&ws, &model_id, &one, &rc); return rc; }},
      {"gj0swm", [&] { int rc; gj0swm(&ws, &rc); return rc; }},
      {"gj0pig", [&] { int rc; gj0pig("PSPEC   ", "PRTNAME ", "SETUP   ", &rc); return rc; }},
      {"gj0art", [&] { int rc; gj0art("PRJWRULS", "ENDS1   ", type, &length, &rc); return rc; }},
      {"gj0asa", [&] { int rc; gj0asa("SPCSZRNG", &stack, &rc); end(stack); return rc; }},
      {"gj0puo", [&] { int rc; gj0puo("PIPE    ", text, &rc); return rc; }},
      {"pu2cpo", [&] { int rc; pu2cpo(&ws, "PROCESS ", field("P", 256).c_str(), &a, &rc); return rc; }},
      {"gtbsui", [&] { int rc, n = 1; gtbsui(&ws, "PSPEC   ", &n, "A1", &a, &rc); return rc; }},
      {"gtbcpo", [&] { int rc; gtbcpo(&ws, "PROCESS ", field("Q", 72).c_str(), &a, &rc, 8, 72); return rc; }},
      {"gj0erx", [&] { int rc; gj0erx(&ws, &handle, &a, &b, &rc); return rc; }},
      {"gtbwvg", [&] { int rc; gtbwvg(&ws, "WLDTABLE", &zero, &level, &a, &b, &rc); end(a); end(b); return rc; }},
      {"gj0aii", [&] { int rc; gj0aii(&ws, &handle, "WLDTABLE", "PRJCMPT ", &rc); return rc; }},
      {"gtbaae", [&] { int rc; gtbaae(&ws, &handle, &zero, "PRJWRULS", "ENDS1   ", &one, "SW      ", &rc); return rc; }},
      {"gtbmae", [&] { int rc; gtbmae(&one, &handle, &one, "PRJWRULS", "ENDS2   ", &one, "SW      ", &rc); return rc; }},
      {"gtbsas", [&] { int rc; gtbsas(&one, &owner, "QRY_DATA", &stack, &rc); end(stack); return rc; }},
      {"gtbrae", [&] { int rc; gtbrae(&one, &entry, "SPCSZRNG", "SIZE1   ", &stack, &rc); end(stack); return rc; }},
      {"gtbrui", [&] { int rc; gtbrui(&one, &entry, &length, text, &stack, &rc); end(stack); return rc; }},
      {"gj0frd", [&] { int rc; gj0frd("PRO     ", "SETUP   ", "CATALOG ", "        ", &a, &b, &c, &rc);
                       end(a); end(b); end(c); return rc; }},
      {"pladata", [&] { int rc; pladata(&kind, &item, &a, &rc); return rc; }},
      {"pu3catn", [&] { int rc; pu3catn(&zero, &id, all_names, &count, &rc); return rc; }},
      {"pu3cnam", [&] { int rc; pu3cnam(&id, names[0], names[1], names[2], names[3], names[4], names[5], names[6], &rc); return rc; }},
      {"pclrng", [&] { int rc; pclrng("ASME    ", "PRJSIZE ", "2       ", "3       ", &stack, &rc); end(stack); return rc; }},
      {"pclenv", [&] { int rc; pclenv("ASME    ", "PRJSIZE ", &stack, &rc); end(stack); return rc; }},
      {"pu4fcsk", [&] { int rc; pclenv("ASME    ", "PRJSIZE ", &stack, &rc); pu4fcsk(&stack, "2       ", &rank, &rc);
                        end(stack); return rc; }},
      {"sulbrm", [&] { int rc, n = 4; std::memcpy(text, " a b", 4); sulbrm(text, &n, &rc); return rc; }},
      {"glrfam", [&] { int rc; glrfam(field("TEE", 24).c_str(), &a, &rc); return rc; }},
      {"gldobj", [&] { int rc; gldobj(&family, field("ELBOW", 24).c_str(), "20240105093000A2", &rc); return rc; }},
      {"gufswr", [&] { int rc, n = 2; gufswr(&unit, "ok", &n, &rc); return rc; }},
  };
}

TEST_F(ModelTest, EveryServiceFailsOnceWhenToldAndChangesNothing) {
  for (const ServiceCall &service : every_service()) {
    SCOPED_TRACE(service.name);
    if (std::string(service.name) != "gimcrw") open_session();
    const std::string before = model::to_json();
    const long injected = model::injected_failures();
    model::fail_service(service.name, kInjected);
    EXPECT_RC(kInjected, service.call());
    EXPECT_EQ(model::injected_failures(), injected + 1);
    EXPECT_EQ(model::to_json(), before);
    EXPECT_EQ(model::calls().back().service, service.name);
    EXPECT_EQ(model::calls().back().rc, kInjected);
    EXPECT_RC(0, service.call());
    pr0end();
  }
  EXPECT_EQ(model::unit_lines(6), std::vector<std::string>{"ok"});
}

// ibafr7 has no result code: a failure is its answer, once; pr0end closes
// the session even when told to fail.
TEST_F(ModelTest, ServicesWithoutResultCodeFailQuietly) {
  open_session();
  model::fail_service("ibafr7", 5);
  EXPECT_EQ(ibafr7(), 5);
  EXPECT_EQ(ibafr7(), 0);
  model::fail_service("pr0end", 5);
  pr0end();
  EXPECT_FALSE(model::session().open);
  EXPECT_EQ(model::calls_of("pr0end").back().rc, 0);
}

TEST_F(ModelTest, StackFailuresPassThroughAndLeaveNoStackOpen) {
  int s1 = 0, s2 = 0, s3 = 0, rc = 0;
  for (long nth = 1;; ++nth) {
    SCOPED_TRACE(nth);
    pcs::host::fail_stack_call(nth, PCS_GUS_NO_MEMORY);
    gj0frd("PRO     ", "SETUP   ", "CATALOG ", "        ", &s1, &s2, &s3, &rc);
    pcs::host::fail_stack_call(0, 0);
    if (rc == 0) {
      take(s1);
      take(s2);
      take(s3);
      break;
    }
    EXPECT_RC(PCS_GUS_NO_MEMORY, rc);
    EXPECT_EQ(s1 | s2 | s3, 0);
    EXPECT_EQ(pcs::host::live_stacks(), 0);
  }
  open_session();
  int element = 0, level = 4;
  sweep_allocations([&](long) {
    int groups = 0, types = 0, code = 0;
    gtbwvg(&ws_, "STANDARD", &element, &level, &groups, &types, &code);
    if (code == 0) {
      EXPECT_EQ(take(groups).size(), 21u);
      take(types);
    } else {
      EXPECT_RC(PCS_GUS_NO_MEMORY, code);
      EXPECT_EQ(groups | types, 0);
    }
  });
  pr0end();
}

}  // namespace
