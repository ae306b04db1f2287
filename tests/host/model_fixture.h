// Fixture of the host model tests: the example project imported into a
// project database in a temporary directory, loaded, and helpers for
// sessions and stacks.
#ifndef PCS_TESTS_HOST_MODEL_FIXTURE_H
#define PCS_TESTS_HOST_MODEL_FIXTURE_H

#include <string>
#include <vector>

#include "host/inprocess/model.h"
#include "tests/support/support.h"

namespace model = pcs::host::model;

inline std::string example_project() { return std::string(PCS_SOURCE_DIR) + "/docs/example-project.json"; }

class ModelTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    model::clear();
    project_ = dir_.path("project.db");
    ASSERT_RC(0, model::import_json(example_project(), project_)) << model::load_error();
  }
  void TearDown() override {
    model::clear();
    HostTest::TearDown();
  }

  // gimcrw, pr0ini, pr0vws, psussm and g7mswm as the table creators call them.
  void open_session() {
    int ws = 1, rc = -1, a = 0, b = 0, model_id = 0, mode = 1;
    double zero = 0.0, thousand = 1000.0;
    float fzero = 0.0f;
    gimcrw(&ws, &zero, &thousand, &fzero, &fzero, &rc);
    ASSERT_RC(0, rc);
    pr0ini();
    pr0vws();
    psussm(&ws, "PROCESS ", &a, &b, &model_id, &rc);
    ASSERT_RC(0, rc);
    g7mswm(&ws, &model_id, &mode, &rc);
    ASSERT_RC(0, rc);
  }

  // The model the database at path holds, as JSON; the working model stays
  // (loaded again from its JSON, with the database as its saved state).
  static std::string stored(const std::string &path) {
    const std::string working = model::to_json();
    EXPECT_RC(0, model::load(path)) << model::load_error();
    std::string out = model::to_json();
    EXPECT_RC(0, model::load_text(working));
    return out;
  }

  // The stack's entries; the stack is ended.
  static std::vector<std::string> take(int stack) {
    std::vector<std::string> entries = model::stack_entries(stack);
    int rc = 0;
    gusend(&stack, &rc);
    EXPECT_RC(0, rc);
    return entries;
  }

  TempDir dir_;
  std::string project_;
  int ws_ = 1;
  int one_ = 1;
};

#endif
