#include "cli/ffmpeg/video_input.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "cli/common/cli_error.h"
#include "cli/common/platform.h"
#include "cli/ffmpeg/av_error.h"
#include "cli/ffmpeg/input_kind.h"
#include "cli/ffmpeg/video_stream_choice.h"

namespace trackloom::cli::ffmpeg {
namespace {

// An MP4 or MOV file read as it comes (from a pipe) whose index follows the samples:
// opening it went past them to reach the index, and cannot go back. (Only just
// opened: reading packets moves on too.)
bool IndexPassedBy(const AVFormatContext& format) {
  if (format.pb == nullptr || (format.pb->seekable & AVIO_SEEKABLE_NORMAL) != 0 ||
      std::strncmp(format.iformat->name, "mov,", 4) != 0) {
    return false;
  }
  for (unsigned i = 0; i < format.nb_streams; ++i) {
    const AVIndexEntry* first = avformat_index_get_entry(format.streams[i], 0);
    if (first != nullptr && first->pos < avio_tell(format.pb)) return true;
  }
  return false;
}

// "'song.wav' has no video stream", with what to do when it is sound.
std::string NoPictureMessage(const std::string& input, const AVFormatContext* format) {
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    const AVCodecParameters* p = format->streams[i]->codecpar;
    if (p->codec_type == AVMEDIA_TYPE_VIDEO && p->codec_id != AV_CODEC_ID_NONE) {
      return "'" + input + "': this build of trackloom has no decoder for its video (" +
             avcodec_get_name(p->codec_id) + ")";
    }
  }
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
      return "'" + input +
             "' is sound without a picture: give a picture to show with it as INPUT and the "
             "sound with --audio, e.g. trackloom encode cover.jpg --audio '" +
             input + "' -o DIR";
    }
  }
  return "'" + input + "' has no video stream";
}

// What a stream's header must tell for decoding to start without probing frames
// first (probing 1080p pictures costs as much memory as a decoding thread).
bool HeaderIsEnough(AVFormatContext* format, int index) {
  if (index < 0) return false;
  AVStream* stream = format->streams[index];
  const AVRational rate = av_guess_frame_rate(format, stream, nullptr);
  return stream->codecpar->codec_id != AV_CODEC_ID_NONE && stream->codecpar->width > 0 &&
         stream->codecpar->height > 0 && rate.num > 0 && rate.den > 0;
}

}  // namespace

// A photo or a cover: the picture attached to a piece of sound (an MP3's APIC, the
// cover of an M4A or FLAC), a picture file read on its own (a numbered sequence such
// as frame-%03d.png is a video), or a stream that says or was found to hold one frame.
bool IsStill(const AVFormatContext& format, const AVStream& stream, bool one_picture) {
  if (stream.disposition & AV_DISPOSITION_ATTACHED_PIC) return true;
  if (stream.nb_frames == 1 || one_picture) return true;
  const std::string_view demuxer = format.iformat->name;
  return demuxer.ends_with("_pipe") || (demuxer == "image2" && stream.duration == 1);
}

// Decoding threads: as FFmpeg picks them (one more than the cores, so a thread is
// always ready while the main thread filters), but no more than keep the frames they
// hold in flight within about 20 MB (three threads at 1080p), so memory stays bounded
// on big machines.
int DecodingThreads(int width, int height) {
  const long cores = sysconf(_SC_NPROCESSORS_ONLN);
  const int64_t per_thread = std::max<int64_t>(1, int64_t{width} * height * 3);
  const int64_t by_memory = std::max<int64_t>(1, (int64_t{20} << 20) / per_thread);
  return static_cast<int>(
      std::clamp<int64_t>(std::min<int64_t>((cores > 0 ? cores : 1) + 1, by_memory), 1, 16));
}

VideoInput OpenVideoInput(const std::string& input, int video_stream) {
  VideoInput opened;
  int r = OpenInputFormat(InputUrl(input), nullptr, &opened.format);
  if (r < 0) throw CliError("cannot read '" + input + "': " + AvErrorText(r));
  AVFormatContext* format = opened.format.get();
  if (IndexPassedBy(*format)) {
    throw CliError("'" + input +
                   "' is an MP4 or MOV file with its index after its pictures, which a pipe "
                   "cannot go back to: give the file itself, or write it with ffmpeg's -movflags "
                   "frag_keyframe+empty_moov");
  }
  VideoStreamChooser chooser(InputUrl(input), video_stream);
  VideoStreamChoice choice = chooser.Choose(format);
  if (!HeaderIsEnough(format, choice.index)) {
    const int probed = avformat_find_stream_info(format, nullptr);
    if (probed < 0) throw CliError("cannot read '" + input + "': " + AvErrorText(probed));
    choice = chooser.Choose(format);
  }
  if (HoldsOnlyText(*format)) {
    throw CliError("'" + input + "' is text, not video (FFmpeg would only draw its characters)");
  }
  if (HoldsOnlySubtitles(*format))
    throw CliError("'" + input + "' holds only subtitles, not video");
  if (choice.index < 0 && video_stream >= 0) {
    throw CliError("'" + input + "' has no video stream " + std::to_string(video_stream) +
                   " (its video streams: " + VideoStreamChooser::ListVideoStreams(*format) +
                   "): give one of those to --video-stream");
  }
  r = choice.index;
  if (r == AVERROR_STREAM_NOT_FOUND) throw CliError(NoPictureMessage(input, format));
  if (r < 0 || choice.codec == nullptr) {
    throw CliError("'" + input + "': no decoder for its video stream");
  }
  opened.codec = choice.codec;
  opened.one_picture = choice.one_picture;
  opened.stream_summary = chooser.Describe(*format, r);
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    if (static_cast<int>(i) != r) format->streams[i]->discard = AVDISCARD_ALL;
  }
  opened.stream = format->streams[r];
  return opened;
}

}  // namespace trackloom::cli::ffmpeg
