// The output guard of the writing commands: refuses an output that is one of
// the inputs or an existing file the command may not replace, and writes
// through temporary files renamed into place at the end.
#include "tools/clobber.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "tools/catalog_scan.h"
#include "tools/command.h"

namespace pcs::tools {
namespace {

namespace fs = std::filesystem;

// A short name beside `path` (library calls limit path lengths).
std::string temp_beside(const std::string &path, size_t number) {
  const fs::path p(path);
  const fs::path dir = p.has_parent_path() ? p.parent_path() : fs::path(".");
  return (dir / (".pcs" + std::to_string(getpid()) + "-" + std::to_string(number))).string();
}

bool exists(const std::string &path) {
  struct stat status {};
  return lstat(path.c_str(), &status) == 0;
}

}  // namespace

Outputs::Outputs(std::vector<std::string> inputs, bool force)
    : inputs_(std::move(inputs)), force_(force) {}

Outputs::~Outputs() {
  if (committed_) return;
  std::error_code ignored;
  for (const Entry &e : entries_) fs::remove_all(e.folder.empty() ? e.temp : e.folder, ignored);
}

void Outputs::check_in_place(const std::string &path) const {
  for (const std::string &input : inputs_) {
    if (!input.empty() && same_file(path, input))
      fail(path + ": this is also the input " + input +
           ", which the command reads while it changes the file; nothing changed");
  }
}

void Outputs::check(const std::string &path, Existing existing) const {
  for (const std::string &input : inputs_) {
    if (!input.empty() && same_file(path, input))
      fail(path + ": this is the input " + input +
           " itself: it would be overwritten; nothing changed");
  }
  for (const Entry &e : entries_) {
    if (!e.path.empty() && (e.path == path || same_file(e.path, path)))
      fail(path + ": the command would write this file twice; nothing changed");
  }
  if (fs::is_directory(path)) fail(path + ": this is a folder; nothing changed");
  if (existing == kNeedsForce && !force_ && exists(path))
    fail(path + ": the file exists; give --force to replace it");
}

std::string Outputs::add(const std::string &path, Existing existing) {
  check(path, existing);
  Entry entry{path, temp_beside(path, entries_.size()), "", existing};
  std::error_code error;
  fs::remove(entry.temp, error);
  if (existing == kExtend && exists(path) &&
      !fs::copy_file(path, entry.temp, fs::copy_options::overwrite_existing, error))
    fail(path + ": cannot copy the file to extend it: " + error.message() + "; nothing changed");
  entries_.push_back(entry);
  return entry.temp;
}

std::string Outputs::add_in_folder(const std::string &folder, const std::string &name,
                                   Existing existing) {
  const std::string path = (fs::path(folder) / name).string();
  check(path, existing);
  std::error_code error;
  fs::create_directories(folder, error);
  const std::string temp = add_folder(folder, existing);
  entries_.back().path = path;
  entries_.back().temp = (fs::path(temp) / name).string();
  return temp;
}

std::string Outputs::add_folder(const std::string &folder, Existing existing) {
  std::error_code error;
  fs::create_directories(folder, error);
  Entry entry{"", "", temp_beside((fs::path(folder) / "x").string(), entries_.size()), existing};
  fs::remove_all(entry.folder, error);
  if (!fs::create_directory(entry.folder, error))
    fail(folder + ": cannot make a temporary folder in it: " + error.message());
  entries_.push_back(entry);
  return entry.folder;
}

// Each file written into the temporary folder of add_folder() becomes an
// output of its own, checked like the others.
void Outputs::expand_folders() {
  const std::vector<Entry> entries = entries_;
  for (const Entry &e : entries) {
    if (!e.path.empty()) continue;
    const fs::path folder = fs::path(e.folder).parent_path();
    for (const auto &file : fs::directory_iterator(e.folder)) {
      const std::string path = (folder / file.path().filename()).string();
      check(path, e.existing);
      entries_.push_back({path, file.path().string(), "", e.existing});
    }
  }
}

void Outputs::commit() {
  expand_folders();
  for (const Entry &e : entries_) {
    struct stat old {};
    if (e.path.empty() || !exists(e.temp)) continue;  // the command had nothing to write there
    if (stat(e.path.c_str(), &old) == 0) chmod(e.temp.c_str(), old.st_mode & 07777);
    if (std::rename(e.temp.c_str(), e.path.c_str()) == 0) continue;
    committed_ = true;  // the temporary file stays for the user
    fail(e.path + ": cannot move the written file into place: " + std::strerror(errno) +
         " (it is kept as " + e.temp + ")");
  }
  committed_ = true;
  std::error_code ignored;
  for (const Entry &e : entries_)
    if (!e.folder.empty()) fs::remove_all(e.folder, ignored);
}

}  // namespace pcs::tools
