#include "cli/common/reporter.h"

#include "cli/common/messages.h"
#include "cli/common/platform.h"

namespace trackloom::cli {

void Reporter::Error(const std::string& message) const { PrintError(err, message); }

void Reporter::Warning(const std::string& message) const { PrintWarning(err, message); }

void Reporter::Note(const std::string& message) const {
  if (!quiet) PrintNote(err, message);
}

bool Reporter::ShowsProgress() const { return Words() && isatty(fileno(err)); }

}  // namespace trackloom::cli
