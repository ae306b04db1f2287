// The frame of the command-line program: each command family registers its
// subcommands from its own source file, and reports failures through fail().
#ifndef PCS_TOOLS_COMMAND_H
#define PCS_TOOLS_COMMAND_H

#include <CLI/CLI.hpp>
#include <exception>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace pcs::tools {

// Adds a family's subcommands to the program. Define one static Register
// object per family source file:
//   static pcs::tools::Register reg([](CLI::App &app) { ... app.add_subcommand(...) ... });
using Registrar = void (*)(CLI::App &app);
struct Register {
  explicit Register(Registrar registrar);
};
// Every family's registrar, in registration order.
std::vector<Registrar> &registrars();

// Exit codes: 0 done, 1 the operation failed, 2 the command line is wrong.
inline constexpr int kFailed = 1;
inline constexpr int kUsage = 2;

// Prints "pcs: <message>" to standard error and ends the command with exit
// code `code`.
[[noreturn]] void fail(const std::string &message, int code = kFailed);

// True when standard error is a terminal (long runs show progress then).
bool interactive();

// A name, key or value field without its trailing blanks.
std::string trimmed(std::string_view text);
// The same for a fixed-width name field, which ends early at a zero byte.
std::string trimmed(const char *field, size_t width);

// Turns a text into an 8-character blank-padded name field (cut when longer).
std::string name_field(const std::string &text, size_t width = 8);

// ": <meaning> (code <rc>, <its name>)" to end a failure message, from the
// library's code table; meaning and name are left out where the code has
// none.
std::string code_text(int rc);

// "pcs M.m.p (library build STAMP)", from the module header of the library
// this program loaded.
std::string library_version();

// The same for result code `rc` of the library operation `operation`
// ("csgbldx"), whose small codes mean what that operation documents; when
// `error` (an errno value) is not 0 the system's text for it follows.
std::string cause(const std::string &operation, int rc, int error = 0);

// Fails with a usage error unless `name` (a group or attribute name, as
// `what` says) has 1 to 8 characters.
void check_name(const std::string &name, const char *what);

// A key field given as "GROUP.ATTR:LENGTH"; a usage failure otherwise.
struct KeyField {
  std::string group, attribute;
  int length = 0;
};
KeyField parse_key_field(const std::string &spec);
std::vector<KeyField> key_fields(const std::vector<std::string> &specs);

// The known names closest to `word` by edit distance (letter case aside),
// best first; none when nothing is close.
std::vector<std::string> closest_names(const std::string &word, const std::vector<std::string> &known);
// "; did you mean 'X'?" (or 'X' or 'Y'), "" when nothing is close.
std::string did_you_mean(const std::string &word, const std::vector<std::string> &known);

// Why a JSON text whose syntax is sound was refused: a number in it too
// large for a double (1e999), which the JSON reader does not take.
inline constexpr const char *kNumberTooLarge = "a number too large to read (beyond 1.8e308)";

// --verbose: the library's own diagnostic lines reach the terminal.
void set_verbose(bool on);
bool verbose();

// While alive, drops what the library writes to file descriptor `fd` (1 or
// 2), unless --verbose was given.
class QuietOutput {
 public:
  explicit QuietOutput(int fd);
  ~QuietOutput();
  QuietOutput(const QuietOutput &) = delete;
  QuietOutput &operator=(const QuietOutput &) = delete;

 private:
  int fd_, saved_ = -1;
};

// Adds --json to a command that prints data: it then prints one JSON
// document, values typed, instead of its text lines.
void add_json_flag(CLI::App *command);
bool json_output();
// Prints `doc` indented on standard output; bytes that are not UTF-8 are
// replaced, never a failure.
void print_json(const nlohmann::json &doc);

// The JSON document of file `path` ("-": standard input), `what` naming it
// in failures: the system's reason when it cannot be opened, the line and
// column where the text goes wrong when it is not JSON.
nlohmann::json read_json(const std::string &path, const char *what);
// A JSON library error in words, without the library's error tag.
std::string json_reason(const std::exception &e);

// Adds --project PATH to a command that reads or writes the model: the
// project database its model services use.
void add_project_option(CLI::App *command);

// Fails with a usage error, naming the word and the closest commands, when
// the command line names a command that does not exist.
void check_command_words(CLI::App &app, int argc, char **argv);

}  // namespace pcs::tools

#endif
