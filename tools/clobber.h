// The one guard of every command that writes a file: an output that is the
// same file as an input is refused before anything is opened for writing, an
// existing file is replaced only with --force (or when the command says the
// file is of its own kind), and each output is written to a temporary file
// beside it that replaces the old file only when the command succeeded.
#ifndef PCS_TOOLS_CLOBBER_H
#define PCS_TOOLS_CLOBBER_H

#include <string>
#include <vector>

namespace pcs::tools {

class Outputs {
 public:
  // `inputs`: every file or folder the command reads. `force`: the command's
  // --force (replace existing files).
  Outputs(std::vector<std::string> inputs, bool force);
  ~Outputs();
  Outputs(const Outputs &) = delete;
  Outputs &operator=(const Outputs &) = delete;

  // How an existing output is treated.
  enum Existing {
    kNeedsForce,  // replaced only with --force
    kReplace,     // replaced (it is of the kind the command writes)
    kExtend,      // its content is kept and the command adds to it
  };
  // Checks `path` as an output and returns the temporary path the command
  // writes instead (holding the old content for kExtend). Fails the command
  // when `path` is one of the inputs or another output, or exists and may
  // not be replaced.
  std::string add(const std::string &path, Existing existing = kNeedsForce);
  // The same for a file `name` the command writes into `folder` (made when
  // absent): returns a temporary folder in which the command writes `name`.
  std::string add_in_folder(const std::string &folder, const std::string &name,
                            Existing existing = kNeedsForce);
  // A temporary folder for files of names not known before the command
  // writes them into `folder`; each is checked as an output (by add())
  // when commit() moves it into `folder`.
  std::string add_folder(const std::string &folder, Existing existing = kNeedsForce);
  // The checks of add() alone, for an output that a library call replaces
  // atomically by itself.
  void check(const std::string &path, Existing existing = kNeedsForce) const;
  // Fails the command when `path`, which the command changes in place, is
  // also one of its inputs.
  void check_in_place(const std::string &path) const;
  // Moves every temporary file into place (keeping the mode of a replaced
  // file); fails the command naming a file that could not be moved.
  void commit();

 private:
  struct Entry {
    std::string path, temp, folder;
    Existing existing;
  };
  void expand_folders();

  std::vector<std::string> inputs_;
  std::vector<Entry> entries_;
  bool force_;
  bool committed_ = false;
};

}  // namespace pcs::tools

#endif
