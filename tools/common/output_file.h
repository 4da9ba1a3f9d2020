// An output file that appears whole or not at all: the records go to a
// temporary file beside it, which replaces the file only once every record
// has been written. On every other way out of the program, an error stop of
// the record layer or a signal included, the temporary file is removed.
#pragma once

#include <string>

#include "fio/fio.h"

namespace ecodyn::tools {

class OutputFile {
 public:
  // Creates the temporary file beside path and connects unit to it; on
  // failure returns false with the reason in error.
  bool open(fio::Unit unit, const std::string& path, std::string& error);

  // Closes the unit and puts the file in place; on failure removes the
  // temporary file and returns false with the reason in error.
  bool commit(std::string& error);

  // Removes the temporary file, if any.
  static void discard();

 private:
  fio::Unit unit_ = fio::terminal;
  std::string path_;
};

}  // namespace ecodyn::tools
