// Messages of a companion program to the user on standard error: warnings,
// after which the program goes on, and the one error that ends it. Each names
// the input file and, where there is one, the line.
#pragma once

#include <stdexcept>
#include <string>

namespace ecodyn::tools {

// The input cannot be used; line 0 when no line is to blame.
class InputError : public std::runtime_error {
 public:
  InputError(int line, const std::string& what) : std::runtime_error(what), line_(line) {}
  int line() const { return line_; }

 private:
  int line_;
};

class Diagnostics {
 public:
  // file: the input as the messages name it.
  explicit Diagnostics(std::string file) : file_(std::move(file)) {}

  const std::string& file() const { return file_; }

  // Writes "PROGRAM: FILE, line N: warning: text".
  void warn(int line, const std::string& text);

  // Writes "PROGRAM: FILE, line N: text" for an error.
  void error(int line, const std::string& text) const;

  int warnings() const { return warnings_; }

 private:
  std::string file_;
  int warnings_ = 0;
};

// Writes "PROGRAM: text" to standard error; PROGRAM is the name given to
// fio::set_program_name.
void complain(const std::string& text);

}  // namespace ecodyn::tools
