// Whether an output may be written at a path, asked before anything is
// written: companion programs replace only regular files and write a
// character device or a pipe directly.
#pragma once

#include <string>

namespace ecodyn::tools {

// Returns false, with the reason ("cannot write PATH: ..."), if path names
// something other than a regular file, a character device or a pipe, or a
// file to be created or replaced in a directory that cannot be written.
bool replaceable(const std::string& path, std::string& error);

}  // namespace ecodyn::tools
