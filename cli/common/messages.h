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

// A path as a shell reads it back: as it is, or in single quotes.
std::string ShellWord(const std::string& text);

// "1 record", "2 records": noun as given for one, plural (default noun + "s") otherwise.
std::string Count(int64_t n, std::string_view noun, std::string_view plural = {});

// The one way a line reaches the user on stderr (or the stream err stands for): the
// whole line made printable, so no name inside it can act on the terminal, then a
// line break. Every other writer below goes through it.
void Tell(std::FILE* err, std::string_view line);

// The one line of a run-time failure: "trackloom: message".
void PrintError(std::FILE* err, const std::string& message);
// "trackloom: note: message", something the user may want to know.
void PrintNote(std::FILE* err, const std::string& message);
// "trackloom: warning: message", something that is likely to go wrong later.
void PrintWarning(std::FILE* err, const std::string& message);

// A 64-bit count or offset as printf's %llu takes it, on every platform.
inline unsigned long long U(uint64_t v) { return static_cast<unsigned long long>(v); }

// printf's formatting into a string, for the numbers of a message.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
std::string
Format(const char* format, ...);

}  // namespace trackloom::cli
