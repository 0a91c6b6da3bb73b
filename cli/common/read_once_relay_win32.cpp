// Handing a read-once input on as it comes has no Windows form yet (FFmpeg would
// need a named pipe of the command's own); such an input is refused with what to do.
#include "cli/common/cli_error.h"
#include "cli/common/read_once.h"

namespace trackloom::cli {

std::string ReadOnceInput::Relay() {
  throw CliError("cannot read '" + input_ +
                 "' as it comes on Windows; save it to a file first and give that file");
}

}  // namespace trackloom::cli
