// Which of an input's video streams gives the pictures: the one the user asked for,
// or else the moving one. A film is never passed over for a single picture stored
// beside it (its cover, a poster frame), flagged as attached or not.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct AVCodec;
struct AVFormatContext;

namespace trackloom::cli::ffmpeg {

struct VideoStreamChoice {
  int index = -1;  // FFmpeg's error (AVERROR_STREAM_NOT_FOUND) when there is none
  const AVCodec* codec = nullptr;
  bool one_picture = false;  // the stream was found to hold a single picture
};

class VideoStreamChooser {
 public:
  // url: what was opened, read a second time to count pictures when the input is a
  // file with several video streams; requested: the stream's number as ffprobe lists
  // it (#0:N), or -1 to choose.
  VideoStreamChooser(std::string url, int requested)
      : url_(std::move(url)), requested_(requested) {}

  // The stream to read. A requested stream that is not a decodable video stream gives
  // AVERROR_STREAM_NOT_FOUND.
  VideoStreamChoice Choose(AVFormatContext* format);

  // When the input has more than one video stream: which one is read and which are
  // not, e.g. "stream 1 (h264, 1920 x 1080) of 2; not read: stream 0 (png, 600 x 600,
  // one picture)". Empty otherwise.
  std::string Describe(const AVFormatContext& format, int chosen) const;

  // The input's video streams, as "0, 2", for a message.
  static std::string ListVideoStreams(const AVFormatContext& format);

 private:
  // Whether stream i holds a single picture, by its flags and its frame count, or by
  // the packets counted when the stream itself does not say.
  bool OnePicture(const AVFormatContext& format, unsigned i) const;
  // Counts each video stream's packets from the start of the file (the demuxer alone,
  // nothing decoded) until one stream has plenty.
  void CountPackets(const AVFormatContext& format);

  std::string url_;
  int requested_;
  bool counted_ = false;
  std::vector<int64_t> packets_;
};

}  // namespace trackloom::cli::ffmpeg
