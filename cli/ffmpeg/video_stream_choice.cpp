#include "cli/ffmpeg/video_stream_choice.h"

#include <algorithm>
#include <cstring>

#include "cli/ffmpeg/av_owners.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace trackloom::cli::ffmpeg {
namespace {

// Packets of one stream that settle the count: a second of any usual frame rate.
constexpr int64_t kPlentyOfPackets = 60;
// Packets read at most, whatever else the file holds.
constexpr int64_t kMostPacketsRead = 5000;

// FFmpeg's own AV1 decoder only drives a graphics card's decoder and fails on every
// picture without one; where it is the only AV1 decoder built in (the Windows command:
// no dav1d), AV1 video is told as having no decoder rather than failing its first picture.
const AVCodec* FindVideoDecoder(AVCodecID id) {
  const AVCodec* codec = avcodec_find_decoder(id);
  if (codec == nullptr || std::strcmp(codec->name, "av1") != 0) return codec;
  void* at = nullptr;
  while (const AVCodec* other = av_codec_iterate(&at)) {
    if (av_codec_is_decoder(other) && other->id == id && other != codec) return other;
  }
  return nullptr;
}

bool IsVideo(const AVStream& stream) {
  return stream.codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
         FindVideoDecoder(stream.codecpar->codec_id) != nullptr;
}

int VideoStreamCount(const AVFormatContext& format) {
  int count = 0;
  for (unsigned i = 0; i < format.nb_streams; ++i) count += IsVideo(*format.streams[i]);
  return count;
}

}  // namespace

void VideoStreamChooser::CountPackets(const AVFormatContext& format) {
  counted_ = true;
  packets_.assign(format.nb_streams, 0);
  // A pipe cannot be read twice: there the streams' own flags and counts must do.
  if (format.pb == nullptr || (format.pb->seekable & AVIO_SEEKABLE_NORMAL) == 0) return;
  InputFormatPtr scan;
  if (OpenInputFormat(url_, format.iformat, &scan) < 0) return;
  for (unsigned i = 0; i < scan->nb_streams; ++i) {
    if (scan->streams[i]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
      scan->streams[i]->discard = AVDISCARD_ALL;
  }
  PacketPtr packet = NewPacket();
  int64_t read = 0;
  int64_t most = 0;
  while (packet != nullptr && read < kMostPacketsRead && most < kPlentyOfPackets &&
         av_read_frame(scan.get(), packet.get()) >= 0) {
    const auto index = static_cast<size_t>(packet->stream_index);
    if (index < packets_.size()) most = std::max(most, ++packets_[index]);
    ++read;
    av_packet_unref(packet.get());
  }
}

bool VideoStreamChooser::OnePicture(const AVFormatContext& format, unsigned i) const {
  const AVStream& stream = *format.streams[i];
  if ((stream.disposition & AV_DISPOSITION_ATTACHED_PIC) != 0 || stream.nb_frames == 1) return true;
  if (i >= packets_.size()) return false;
  // One packet while another video stream has several: a picture, not a film.
  const int64_t most = *std::max_element(packets_.begin(), packets_.end());
  return packets_[i] <= 1 && most > 1;
}

VideoStreamChoice VideoStreamChooser::Choose(AVFormatContext* format) {
  VideoStreamChoice choice;
  if (requested_ >= 0) {
    if (static_cast<unsigned>(requested_) >= format->nb_streams ||
        !IsVideo(*format->streams[requested_])) {
      choice.index = AVERROR_STREAM_NOT_FOUND;
      return choice;
    }
    choice.index = requested_;
  } else {
    choice.index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  }
  if (choice.index < 0) return choice;
  if (VideoStreamCount(*format) > 1 && !counted_) CountPackets(*format);
  choice.one_picture = OnePicture(*format, static_cast<unsigned>(choice.index));
  if (choice.one_picture && requested_ < 0) {
    // The largest moving picture instead, the first of equals.
    int64_t best_area = -1;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
      const AVCodecParameters& p = *format->streams[i]->codecpar;
      const int64_t area = int64_t{p.width} * p.height;
      if (IsVideo(*format->streams[i]) && !OnePicture(*format, i) && area > best_area) {
        best_area = area;
        choice.index = static_cast<int>(i);
        choice.one_picture = false;
      }
    }
  }
  choice.codec = FindVideoDecoder(format->streams[choice.index]->codecpar->codec_id);
  return choice;
}

std::string VideoStreamChooser::ListVideoStreams(const AVFormatContext& format) {
  std::string list;
  for (unsigned i = 0; i < format.nb_streams; ++i) {
    if (format.streams[i]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
    list += (list.empty() ? "" : ", ") + std::to_string(i);
  }
  return list.empty() ? "none" : list;
}

std::string VideoStreamChooser::Describe(const AVFormatContext& format, int chosen) const {
  if (VideoStreamCount(format) < 2) return "";
  const auto name = [&](unsigned i) {
    const AVCodecParameters& p = *format.streams[i]->codecpar;
    return "stream " + std::to_string(i) + " (" + avcodec_get_name(p.codec_id) + ", " +
           std::to_string(p.width) + " x " + std::to_string(p.height) +
           (OnePicture(format, i) ? ", one picture)" : ")");
  };
  std::string others;
  for (unsigned i = 0; i < format.nb_streams; ++i) {
    if (static_cast<int>(i) == chosen || !IsVideo(*format.streams[i])) continue;
    others += (others.empty() ? "" : ", ") + name(i);
  }
  return name(static_cast<unsigned>(chosen)) + " of " + std::to_string(VideoStreamCount(format)) +
         "; not read: " + others + " (--video-stream N reads another)";
}

}  // namespace trackloom::cli::ffmpeg
