// One video file being written, whatever its container and codecs: the file opened by
// the command's own rules, its streams, the header, the packets, chapters and the
// trailer. A file begun and never finished is closed and removed, so a failure leaves
// nothing behind.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cli/ffmpeg/av_owners.h"
#include "cli/ffmpeg/encoder.h"

namespace trackloom::cli::ffmpeg {

// A chapter: its title and its first record (18 a second).
struct VideoChapter {
  int64_t first_record = 0;
  std::string title;
};

class Muxer {
 public:
  // An output to path in the container format_name names (null: the one path's name
  // picks); no file is made before Begin. Null when FFmpeg writes no such container.
  static std::unique_ptr<Muxer> For(const std::string& path, const char* format_name);
  ~Muxer();
  Muxer(const Muxer&) = delete;
  Muxer& operator=(const Muxer&) = delete;

  // Whether the container keeps the codecs' global headers itself, which each encoder
  // is then to be opened for (AV_CODEC_FLAG_GLOBAL_HEADER).
  bool global_header() const;
  // A stream of what encoder makes, stamped in its time base until the header sets
  // the container's. Throws CliError when out of memory.
  AVStream& AddStream(const Encoder& encoder);
  // A stream of packets made without an encoder: its codec parameters and time base
  // are the caller's to set.
  AVStream& AddStream();

  // Creates the file (unless the container writes files of its own) and writes the
  // header. Throws CliError.
  void Begin();
  // Writes packet, its times in from, into stream, taking its reference. Throws
  // CliError.
  void Write(AVPacket& packet, const AVStream& stream, AVRational from);
  // frame through encoder (null: drains it), and every packet it gives into stream.
  void Encode(Encoder& encoder, const AVStream& stream, const AVFrame* frame);
  // Puts the chapters, each ending where the next begins and the last at end_record,
  // writes the trailer and closes the file, which is then kept. Throws CliError.
  void Finish(const std::vector<VideoChapter>& chapters, int64_t end_record);

 private:
  Muxer(const std::string& path, OutputFormatPtr format)
      : path_(path), format_(std::move(format)) {}

  std::string path_;
  OutputFormatPtr format_;
  bool created_ = false;  // the name holds a file of this run
  bool finished_ = false;
};

}  // namespace trackloom::cli::ffmpeg
