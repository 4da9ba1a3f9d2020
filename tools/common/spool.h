// A temporary file for what a companion program must hold before it can
// write its output (the body of a table whose head depends on every cycle,
// a script whose settings follow its data): created in TMPDIR (or /tmp) and
// removed from the directory at once, so that nothing is left behind however
// the program ends, and memory stays bounded whatever the size of the input.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace ecodyn::tools {

class Spool {
 public:
  // Throws std::runtime_error ("cannot write a temporary file in DIR:
  // reason") when the file cannot be made.
  Spool();
  ~Spool();
  Spool(const Spool&) = delete;
  Spool& operator=(const Spool&) = delete;

  // Appends text; throws std::runtime_error when the file cannot take it.
  void write(std::string_view text);

  // Goes back to the start, to read what was written; throws when what was
  // written cannot be kept.
  void rewind();

  // Reads the next line without its line end into line; false at the end.
  bool read_line(std::string& line);

  // Reads up to size bytes; returns how many (0 at the end).
  std::size_t read(char* buffer, std::size_t size);

 private:
  [[noreturn]] void fail(const char* what) const;

  std::string dir_;
  std::FILE* file_ = nullptr;
};

}  // namespace ecodyn::tools
