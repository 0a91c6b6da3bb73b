// Files the command writes, opened so that nothing but the file named is touched: a
// symbolic link under the name is not followed, and only a regular file with no other
// name (hard link) is replaced. A link planted in an output directory could otherwise
// send the writes to any file the user may change.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace trackloom::cli {

// The error code for a name taken by something that is not a regular file of its
// own (the filter's file object uses the same value).
inline constexpr int kNotRegularFile = -1;

// Creates path, or empties the regular file there, for writing. The descriptor, or -1
// with the reason (an errno value or kNotRegularFile) in *error.
int OpenOutputFile(const std::string& path, int* error);
// The same as a stdio stream ("wb"); null with the reason in *error.
std::FILE* OpenOutputStream(const std::string& path, int* error);

// Why a file could not be written, in the user's words: "the disk is full", "it is a
// symbolic link, which is never written through", ... error is an errno value (or
// kNotRegularFile); the name is looked at again to tell links and special files apart.
std::string DescribeWriteError(const std::string& path, int error);
// The same from the error alone.
std::string DescribeError(int error);

// The input that output names (the same device and inode, whatever the path says),
// or null. A command that opened it for writing would destroy what it reads.
const std::string* SameFileAsInput(const std::string& output,
                                   const std::vector<std::string>& inputs);
// "cannot write 'out': it is the input 'in'; give another name", printable.
std::string SameFileMessage(const std::string& output, const std::string& input);

// Why path may not be written as a new output, checked before any work is done:
// empty when it is free (or a regular file of its own and overwrite is given).
// Otherwise the reason, the rules OpenOutputFile() keeps with "it already exists
// (give --overwrite to replace it)" for an existing file.
std::string OutputRefusal(const std::string& path, bool overwrite);

}  // namespace trackloom::cli
