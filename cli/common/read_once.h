// Inputs that can be read only once (standard input, a pipe, a terminal, a socket),
// and a copy of one that can be read as often as the work needs: FFmpeg reads an
// input's sound and its pictures one after the other, measures loudness in a pass of
// its own, and finds an MP4's index at its end. A stream that cannot carry sound
// needs none of that, and is handed on as it comes instead.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "cli/common/temp_file.h"
#include "cli/common/unique_fd.h"

namespace trackloom::cli {

// How the copy of a read-once input is named where the system cannot keep it unnamed.
inline constexpr char kReadOnceCopyPrefix[] = ".trackloom-copy-";

// "-" (standard input), FFmpeg's "pipe:N", a FIFO, a terminal or a socket.
bool IsReadOnce(const std::string& input);
// A device file (not standard input): it may never end, as /dev/zero does, so it is
// read as it comes and never copied.
bool IsDeviceFile(const std::string& input);

// One read-once input, opened once: its first bytes can be looked at, and whatever
// reads it afterwards (a copy, or the relay) gets them back first.
class ReadOnceInput {
 public:
  // Takes standard input or pipe:N as it is, or opens the named one. Throws CliError.
  explicit ReadOnceInput(const std::string& input);
  ~ReadOnceInput();
  ReadOnceInput(const ReadOnceInput&) = delete;
  ReadOnceInput& operator=(const ReadOnceInput&) = delete;

  // The input begins as a stream that cannot carry sound: YUV4MPEG2, or PNG or JPEG
  // pictures one after another. Throws CliError when the read fails, or Ctrl-C
  // stopped it (reported as the interrupt).
  bool Soundless();
  // Copies the input into copy, a temporary file without a name in directory, so
  // that it vanishes however the command ends; progress is told the bytes copied now
  // and then. False when Ctrl-C stopped the copy. Throws CliError naming the input or
  // directory.
  bool CopyTo(const std::string& directory, TempFile& copy,
              const std::function<void(int64_t bytes)>& progress = {});
  // Hands the input on as it comes, through a pipe of this object's, and gives the
  // path FFmpeg opens that pipe by. Whatever opens it must be closed before this
  // object goes.
  std::string Relay();

 private:
  void RelayLoop();

  std::string input_;
  int fd_ = -1;
  UniqueFd opened_;   // fd_ when it was opened here, not handed over
  std::string head_;  // the bytes read to look at
  UniqueFd pipe_read_;
  UniqueFd pipe_write_;
  UniqueFd stop_read_;  // the relay ends when this becomes readable
  UniqueFd stop_write_;
  std::thread relay_;
};

// Copies input as ReadOnceInput::CopyTo() does.
bool CopyReadOnceInput(const std::string& input, const std::string& directory, TempFile& copy,
                       const std::function<void(int64_t bytes)>& progress = {});

}  // namespace trackloom::cli
