// Where a command's words go and how many of them: its output (the summary, as text
// or JSON), its messages (errors, warnings, notes, progress) and what the user asked
// for (quiet, JSON, verbose). The libraries the commands are built from say
// everything through the Reporter they are given; only a command makes one.
#pragma once

#include <cstdio>
#include <string>

namespace trackloom::cli {

struct Reporter {
  std::FILE* out = stdout;  // the summary, text or JSON
  std::FILE* err = stderr;  // every message and the progress line
  bool quiet = false;       // errors only
  bool json = false;        // the summary as JSON on out, no progress
  bool verbose = false;     // FFmpeg's own warnings, and how the input is read

  // Always said: a failure, and what is likely to go wrong later.
  void Error(const std::string& message) const;
  void Warning(const std::string& message) const;
  // Said unless quiet: what the user may want to know.
  void Note(const std::string& message) const;
  // A summary in words (rather than JSON, or nothing) is wanted.
  bool Words() const { return !quiet && !json; }
  // A progress line is wanted: words, and a terminal to draw it on.
  bool ShowsProgress() const;
};

}  // namespace trackloom::cli
