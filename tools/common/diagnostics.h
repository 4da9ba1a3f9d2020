// Messages of a companion program to the user on standard error: warnings,
// after which the program goes on, and the one error that ends it. Each names
// the input file and, where there is one, the line.
#pragma once

#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace ecodyn::tools {

// The input cannot be used; line 0 when no line is to blame.
class InputError : public std::runtime_error {
 public:
  InputError(int line, const std::string& what) : std::runtime_error(what), line_(line) {}
  int line() const { return line_; }

 private:
  int line_;
};

// Which warnings are written: each one as it comes, one summary line per
// kind, or none.
enum class Warnings { each, summary, none };

class Diagnostics {
 public:
  // file: the input as the messages name it.
  explicit Diagnostics(std::string file, Warnings shown = Warnings::each)
      : file_(std::move(file)), shown_(shown) {}

  const std::string& file() const { return file_; }

  // Warns of one thing of a kind, the kind said in the plural for the
  // summary ("values lose digits"). Writes "PROGRAM: FILE, line N: warning:
  // text" at once when each warning is shown; otherwise keeps it for
  // summarize().
  void warn(const std::string& kind, int line, const std::string& text);

  // Writes, when warnings are summarized, one line for each kind in the
  // order the kinds first came: a kind warned of once as that warning,
  // otherwise "PROGRAM: FILE: warning: COUNT KIND (lines A, B, C, ...;
  // --verbose lists each)".
  void summarize();

  // Writes "PROGRAM: FILE, line N: text" for an error.
  void error(int line, const std::string& text) const;

 private:
  struct Kind {
    std::string name;
    int count = 0;
    std::set<int> lines;
    int first_line = 0;
    std::string first_text;
  };

  std::string file_;
  Warnings shown_;
  std::vector<Kind> kinds_;
};

// Writes "PROGRAM: text" to standard error; PROGRAM is the name given to
// fio::set_program_name.
void complain(const std::string& text);

// Ends the program by signal sig, which has come and been held off: its
// default action restored and the signal raised again (status 128 + sig if
// it does not end the program).
[[noreturn]] void end_by_signal(int sig);

}  // namespace ecodyn::tools
