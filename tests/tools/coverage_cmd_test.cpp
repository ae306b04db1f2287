// `pcs spec coverage` and `pcs spec explain` on the demo's specification:
// the matrix as text and JSON, each record of a duplicated part number
// explained, and the HTML page opened in headless Chromium: its cells
// against the JSON of the same run, a chosen cell's explanation shown, and
// a screenshot kept in the build directory (coverage.png).
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>

#include "host/inprocess/model.h"
#include "include/pcs.h"
#include "tests/support/support.h"
#include "tests/tools/demo_fixture.h"

namespace {

using nlohmann::json;

class Coverage : public DemoProject {
 protected:
  // Appends a record numbered ELL-3-40 of schedule 80 to the demo's file.
  void add_duplicate() {
    const std::string path = dir_.path("d/SPECPART");
    FILE *file = std::fopen(path.c_str(), "r+b");  // cggput seeks back to its header
    ASSERT_NE(file, nullptr);
    const char *fields[][3] = {{"PARTNUM ", "PARTNO  ", "ELL-3-40        "},
                               {"ELCLASS ", "AELCLASS", "ELBOW   "},
                               {"SPCFUNC ", "QRYNUMBR", "1       "},
                               {"PIPESIZE", "SIZE    ", "3       "},
                               {"ENDSPEC ", "SCH     ", "80      "}};
    CgPart part = nullptr;
    int rc = 0;
    for (const auto &f : fields) {
      const int length = static_cast<int>(std::strlen(f[2]));
      part = cgpradd(f[2], "C       ", &length, f[1], f[0], part, &rc);
    }
    cggput(file, &part, &rc);
    EXPECT_EQ(rc, 0);
    cggfre(part);
    std::fclose(file);
  }
};

TEST_F(Coverage, PrintsTheMatrixAsTextAndJson) {
  ToolRun r = run_tool(dir_, args("coverage DEMO"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "entry      2      3      4      6    none   one several\n"
            "PIPE       1      1      1      1       0     4       0\n"
            "ELBOW      0      2      0      -       2     0       1\n"
            "cells: 2 with no part, 4 with one, 1 with several; - the entry does not cover the "
            "size\n");
  r = run_tool(dir_, args("coverage DEMO --json"));
  ASSERT_EQ(r.status, 0) << r.err;
  const json c = json::parse(r.out);
  EXPECT_EQ(c["sizes"], json({"2", "3", "4", "6"}));
  const json &elbow = c["entries"][1];
  EXPECT_EQ(elbow["cells"]["3"]["parts"], json({"ELL-3-40", "ELL-3-STD"}));
  EXPECT_EQ(elbow["cells"]["3"]["state"], "several");
  const json &rejected = elbow["cells"]["4"]["closest"][0];
  EXPECT_EQ(rejected["part"], "ELL-4-80");
  EXPECT_EQ(rejected["why"],
            json({"ENDSPEC.SCH value 1: query \"40\", catalog \"80\" (generic), "
                  "T[1][present][present] = compare"}));
  EXPECT_EQ(elbow["cells"]["2"]["closest"][0]["why"],
            json({"size 1 \"2\" (rank 2) is below the minimum \"3\" (rank 3)"}));
  EXPECT_EQ(c["totals"], json({{"none", 2}, {"one", 4}, {"several", 1}}));

  r = run_tool(dir_, "spec coverage NOSPEC --project " + dir_.path("d/project.db") + " --parts " +
                         dir_.path("d/SPECPART"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("the project has no piping specification \"NOSPEC\""), std::string::npos);
}

TEST_F(Coverage, ExplainsEveryRecordOfAPartNumber) {
  add_duplicate();
  ToolRun r = run_tool(dir_, args("explain DEMO ELBOW 3 ELL-3-40 --json"));
  ASSERT_EQ(r.status, 0) << r.err;
  const json records = json::parse(r.out);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_TRUE(records[0]["selected"].get<bool>());
  EXPECT_FALSE(records[1]["selected"].get<bool>());
  const json &sch = records[1]["groups"][1]["attributes"][1]["values"][0];
  EXPECT_EQ(sch["catalog"], "80");
  EXPECT_FALSE(sch["equal"].get<bool>());
  EXPECT_LT(records[0]["position"].get<int>(), records[1]["position"].get<int>());
  r = run_tool(dir_, args("explain DEMO ELBOW 3 ELL-3-40"));
  EXPECT_NE(r.out.find("record 1 of 2 numbered ELL-3-40:\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("record 2 of 2 numbered ELL-3-40:\n"), std::string::npos) << r.out;
  r = run_tool(dir_, args("parts DEMO --json"));
  const json parts = json::parse(r.out);
  EXPECT_EQ(parts["entries"][1]["queries"][1]["parts"], json({"ELL-3-40", "ELL-3-STD"}));
  r = run_tool(dir_, args("explain DEMO ELBOW 3 PIPE-3-40"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("catalog part PIPE-3-40 is not a candidate of entry ELBOW"), std::string::npos)
      << r.err;
}

// ---- the page in a browser ------------------------------------------------------

std::string chromium() {
  for (const char *path : {"/usr/bin/chromium", "/usr/bin/chromium-headless-shell"})
    if (access(path, X_OK) == 0) return path;
  return "";
}

// Runs Chromium headless on the page with a fresh profile; its status.
int browse(const std::string &browser, const TempDir &dir, const std::string &action,
           const std::string &url, const std::string &out) {
  const std::string command =
      browser + " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
                " --disable-background-networking --disable-component-update --disable-sync"
                " --user-data-dir=" + dir.path("profile-" + std::to_string(std::rand())) +
      " --window-size=760,420 --virtual-time-budget=3000 " + action + " '" + url + "' > " + out +
      " 2> " + dir.path("browser.err");
  return std::system(command.c_str());
}

TEST_F(Coverage, PageShowsTheCellsAndExplainsAChosenCell) {
  const std::string browser = chromium();
  if (browser.empty()) GTEST_SKIP() << "chromium is not installed";
  const std::string page = dir_.path("coverage.html");
  ToolRun r = run_tool(dir_, args("coverage DEMO --json --html " + page));
  ASSERT_EQ(r.status, 0) << r.err;
  const json c = json::parse(r.out);
  const std::string html = read_file(page);
  EXPECT_EQ(html.find("http"), std::string::npos) << "the page refers to the network";
  EXPECT_EQ(html.find(" src="), std::string::npos);

  const std::string url = "file://" + page + "#click=ELBOW/4";
  ASSERT_EQ(browse(browser, dir_, "--dump-dom", url, dir_.path("dom.html")), 0)
      << read_file(dir_.path("browser.err"));
  const std::string dom = read_file(dir_.path("dom.html"));
  const std::regex cell(
      "<td class=\"cell (none|one|several)( chosen)?\" data-entry=\"([^\"]*)\" "
      "data-size=\"([^\"]*)\">([0-9]+)</td>");
  int cells = 0;
  std::string chosen;
  for (std::sregex_iterator it(dom.begin(), dom.end(), cell), end; it != end; ++it, ++cells) {
    const std::smatch &m = *it;
    const json *row = nullptr;
    for (const json &entry : c["entries"])
      if (entry["entry"] == m[3].str()) row = &entry;
    ASSERT_NE(row, nullptr) << m[3];
    const json &expected = (*row)["cells"][m[4].str()];
    EXPECT_EQ(m[1].str(), expected["state"].get<std::string>()) << m[3] << " " << m[4];
    EXPECT_EQ(std::stoi(m[5].str()), expected["count"].get<int>()) << m[3] << " " << m[4];
    if (m[2].matched) chosen = m[3].str() + "/" + m[4].str();
  }
  EXPECT_EQ(cells, 7);
  EXPECT_EQ(chosen, "ELBOW/4");
  EXPECT_NE(dom.find("<h3>Rejected: ELL-4-80"), std::string::npos) << dom;
  EXPECT_NE(dom.find("ENDSPEC.SCH value 1: query \"40\", catalog \"80\" (generic)"),
            std::string::npos);

  const std::string shot = std::filesystem::current_path().string() + "/coverage.png";
  std::remove(shot.c_str());
  EXPECT_EQ(browse(browser, dir_, "--screenshot=" + shot, url, dir_.path("shot.out")), 0)
      << read_file(dir_.path("browser.err"));
  EXPECT_EQ(read_file(shot).substr(0, 4), "\x89PNG");
}

}  // namespace
