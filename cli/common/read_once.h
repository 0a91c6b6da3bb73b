// Inputs that can be read only once (standard input, a pipe, a terminal, a socket),
// and a copy of one that can be read as often as the work needs: FFmpeg reads an
// input's sound and its pictures one after the other, measures loudness in a pass of
// its own, and finds an MP4's index at its end.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "cli/common/temp_file.h"

namespace trackloom::cli {

// How the copy of a read-once input is named where the system cannot keep it unnamed.
inline constexpr char kReadOnceCopyPrefix[] = ".trackloom-copy-";

// "-" (standard input), FFmpeg's "pipe:N", a FIFO, a terminal or a socket.
bool IsReadOnce(const std::string& input);
// A device file (not standard input): it may never end, as /dev/zero does, so it is
// read as it comes and never copied.
bool IsDeviceFile(const std::string& input);

// Copies input into copy, a temporary file without a name in directory, so that it
// vanishes however the command ends; progress is told the bytes copied now and then.
// False when Ctrl-C stopped the copy. Throws CliError naming input or directory.
bool CopyReadOnceInput(const std::string& input, const std::string& directory, TempFile& copy,
                       const std::function<void(int64_t bytes)>& progress = {});

}  // namespace trackloom::cli
