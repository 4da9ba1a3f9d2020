// An output file that appears whole or not at all: the records go to a
// temporary file beside it, which replaces the file only once every record
// has been written. On every other way out of the program, an error stop of
// the record layer or a signal included, the temporary file is removed.
// Only a regular file is ever replaced (through a symbolic link, the file it
// points to); a character device or a pipe (/dev/stdout, a named pipe) is
// written directly, and any other kind of file is refused.
#pragma once

#include <string>

#include "fio/fio.h"

namespace ecodyn::tools {

class OutputFile {
 public:
  // Creates the temporary file beside path (or opens the device or pipe)
  // and connects unit to it; on failure returns false with the reason in
  // error.
  bool open(fio::Unit unit, const std::string& path, std::string& error);

  // Closes the unit and puts the file in place; on failure removes the
  // temporary file and returns false with the reason in error.
  bool commit(std::string& error);

  // Removes the temporary file, if any.
  static void discard();

 private:
  bool open_stream(fio::Unit unit, const std::string& path, std::string& error);

  fio::Unit unit_ = fio::terminal;
  std::string path_;  // the file to replace; empty for a device or pipe
  int held_ = -1;     // the device or pipe, held open while it is written
};

}  // namespace ecodyn::tools
