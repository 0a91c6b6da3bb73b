// What every video file the command writes needs of the muxer, whatever its codecs:
// the file opened by the command's own rules, and chapters.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct AVFormatContext;

namespace trackloom::cli {

// Opens path by the rules every output keeps (no link followed, no FIFO waited on,
// no file with other names emptied), then hands the library that very file through
// the descriptor's name: the library's own open follows links and blocks on a FIFO.
// *created: the name now holds a file of this run.
bool OpenMuxerFile(AVFormatContext* format, const std::string& path, bool* created,
                   std::string* error);

// A chapter: its title and its first record (18 a second).
struct VideoChapter {
  int64_t first_record = 0;
  std::string title;
};

// Puts the chapters on format, each ending where the next begins and the last at
// end_record; before the trailer is written, which is where the Matroska and MP4
// muxers write them. False when out of memory.
bool SetChapters(AVFormatContext* format, const std::vector<VideoChapter>& chapters,
                 int64_t end_record);

}  // namespace trackloom::cli
