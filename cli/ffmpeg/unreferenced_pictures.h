// Tells from a packet's own bytes whether the picture in it is one that no other
// picture is decoded from, for the codecs whose bitstream says so in its headers:
// H.264 (nal_ref_idc 0), HEVC (sub-layer non-reference pictures of the highest
// sub-layer), MPEG-1 and MPEG-2 (B-pictures), Motion JPEG and ProRes (every picture
// stands alone), and any packet the demuxer marked disposable. Leaving such a packet
// out of the decoder changes no other picture.
#pragma once

#include <cstdint>
#include <vector>

extern "C" {
#include <libavcodec/codec_id.h>
}

struct AVPacket;

namespace trackloom::cli::ffmpeg {

class UnreferencedPictures {
 public:
  // extradata is the stream's codec setup (avcC, hvcC or parameter sets in start
  // code form), or empty; height is the stream's picture height.
  UnreferencedPictures(AVCodecID codec, const uint8_t* extradata, int extradata_size, int height);

  // Whether nothing references the picture in packet. Called for every packet of the
  // stream in decode order: parameter sets sent in the stream are followed. A packet
  // that also carries something later pictures need (parameter sets, a sequence or
  // GOP header, an end of sequence, JPEG tables other than the previous picture's) is
  // never one.
  bool NothingReferences(const AVPacket& packet);

 private:
  bool H264(const uint8_t* data, int size) const;
  bool Hevc(const uint8_t* data, int size);
  static bool Mpeg12(const uint8_t* data, int size);
  bool Mjpeg(const uint8_t* data, int size);
  void FollowHevcSetup(const uint8_t* nal, int size);

  AVCodecID codec_;
  int length_size_ = 0;  // NAL units prefixed by their length in this many bytes; 0 for start codes
  // The highest HEVC temporal sub-layer of any sequence parameter set seen, or -1
  // before the first: only pictures of that sub-layer can be left unreferenced.
  int hevc_top_sub_layer_ = -1;
  int height_;
  // The previous Motion JPEG picture's markers up to its scan, which set the decoder's
  // tables: a picture with the same ones leaves them as they were.
  std::vector<uint8_t> jpeg_header_;
};

}  // namespace trackloom::cli::ffmpeg
