#include "cli/ffmpeg/input_kind.h"

#include <cstring>

extern "C" {
#include <libavformat/avformat.h>
}

namespace trackloom::cli::ffmpeg {
namespace {

// The decoders of FFmpeg's text readers: a text file, ANSI art, binary text,
// eXtended BINary and iCE Draw files all become "video" of characters.
bool IsTextCodec(AVCodecID id) {
  return id == AV_CODEC_ID_ANSI || id == AV_CODEC_ID_BINTEXT || id == AV_CODEC_ID_XBIN ||
         id == AV_CODEC_ID_IDF;
}

bool AllStreams(const AVFormatContext& format, bool (*test)(const AVCodecParameters&)) {
  if (format.nb_streams == 0) return false;
  for (unsigned i = 0; i < format.nb_streams; ++i) {
    if (!test(*format.streams[i]->codecpar)) return false;
  }
  return true;
}

// An image file (FFmpeg's image readers are named "image2" or "<codec>_pipe"), or a
// picture attached to a file as its cover.
bool IsStillPicture(const AVFormatContext& format, const AVStream& stream) {
  if ((stream.disposition & AV_DISPOSITION_ATTACHED_PIC) != 0) return true;
  const char* name = format.iformat != nullptr ? format.iformat->name : "";
  const size_t length = std::strlen(name);
  const bool image_reader = std::strcmp(name, "image2") == 0 ||
                            (length > 5 && std::strcmp(name + length - 5, "_pipe") == 0);
  return image_reader && stream.nb_frames <= 1;
}

}  // namespace

std::string InputUrl(const std::string& input) { return input == "-" ? "pipe:0" : input; }

bool HoldsOnlyText(const AVFormatContext& format) {
  bool text = false;
  for (unsigned i = 0; i < format.nb_streams; ++i) {
    const AVCodecParameters& p = *format.streams[i]->codecpar;
    if (p.codec_type == AVMEDIA_TYPE_VIDEO && !IsTextCodec(p.codec_id)) return false;
    text = text || IsTextCodec(p.codec_id);
  }
  return text;
}

bool HoldsOnlySubtitles(const AVFormatContext& format) {
  return AllStreams(
      format, [](const AVCodecParameters& p) { return p.codec_type == AVMEDIA_TYPE_SUBTITLE; });
}

std::string DescribeWithoutSound(const AVFormatContext& format) {
  if (HoldsOnlyText(format)) return "it is text";
  if (HoldsOnlySubtitles(format)) return "it holds only subtitles";
  bool video = false;
  bool still = true;
  for (unsigned i = 0; i < format.nb_streams; ++i) {
    const AVStream& stream = *format.streams[i];
    if (stream.codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
    video = true;
    still = still && IsStillPicture(format, stream);
  }
  if (!video) return "it holds no stream FFmpeg can play";
  return still ? "it holds a still picture" : "it holds only video";
}

}  // namespace trackloom::cli::ffmpeg
