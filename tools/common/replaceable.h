// Whether an output file may be put in place at a path, asked before
// anything is written: companion programs replace only regular files.
#pragma once

#include <string>

namespace ecodyn::tools {

// Returns false, with the reason ("cannot write PATH: ..."), if path names
// something other than a regular file or lies in a directory that cannot
// be written.
bool replaceable(const std::string& path, std::string& error);

}  // namespace ecodyn::tools
