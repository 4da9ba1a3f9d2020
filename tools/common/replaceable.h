// Whether an output may be written at a path, asked before anything is
// written: companion programs replace only regular files (through a
// symbolic link, the file it ends in), write a character device or a pipe
// directly, and never write over one of their own inputs.
#pragma once

#include <string>
#include <vector>

namespace ecodyn::tools {

// Returns false, with the reason ("cannot write PATH: ..."), if path names
// something other than a regular file, a character device or a pipe, a
// file to be created or replaced in a directory that cannot be written, or
// one of the inputs, itself or through a link ("cannot write PATH: it is
// the input INPUT"), as cp refuses to copy a file onto itself.
bool replaceable(const std::string& path, const std::vector<std::string>& inputs,
                 std::string& error);

// Returns false, with the reason ("cannot write B: it is also the output A"),
// if two of the outputs (empty ones left out) name the same file, by any
// spelling of its name, through a link or as the same existing file: the
// second would replace the first.
bool distinct(const std::vector<std::string>& outputs, std::string& error);

// Returns whether two paths name the same regular file (links followed).
bool same_file(const std::string& a, const std::string& b);

// Returns the file a chain of symbolic links ends in (the path itself when
// it is no link), whether that file exists or not: the file an output
// written through a link replaces, the link staying a link.
std::string link_target(const std::string& path);

}  // namespace ecodyn::tools
