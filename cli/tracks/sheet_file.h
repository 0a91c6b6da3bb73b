// The text of a cue sheet or TOC, and the files its lines name. A sheet comes from
// anywhere (a download, a burning program on another machine), so neither it nor a
// name in it may make the reader wait: a FIFO or a device is refused without being
// waited on, as a sheet and as a file a sheet names.
#pragma once

#include <string>
#include <vector>

namespace trackloom::cli {

// The sheet's lines, without a UTF-8 byte order mark. False, with the reason in *error
// (naming the sheet, escaped), when it is not a regular file that can be read or is far
// larger than any sheet.
bool ReadSheetLines(const std::string& sheet, std::vector<std::string>* lines, std::string* error);

// A file a sheet names, from the sheet's directory. Sheets written on Windows name
// their BIN with a path of that machine: when nothing is at the name as written, the
// name alone is tried as well. Only looks (stat), never opens.
std::string ResolveSheetName(const std::string& sheet, const std::string& name);

// 'name', quoted and with its control characters escaped, for messages.
std::string Quoted(const std::string& name);

}  // namespace trackloom::cli
