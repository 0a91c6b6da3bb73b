// How the command words what it says on a terminal: run-time errors as
// "trackloom: what failed", names with control characters shown escaped, counts
// with their nouns in the right number.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace trackloom::cli {

// text with every control byte (below 0x20, and 0x7f) written as \xNN, so a file
// name cannot move the cursor, clear the screen or start a line of its own.
std::string Printable(std::string_view text);

// "1 record", "2 records": noun as given for one, plural (default noun + "s") otherwise.
std::string Count(int64_t n, std::string_view noun, std::string_view plural = {});

// The one line of a run-time failure: "trackloom: message", made printable.
void PrintError(std::FILE* err, const std::string& message);

}  // namespace trackloom::cli
