#include "cli/ffmpeg/unreferenced_pictures.h"

extern "C" {
#include <libavcodec/packet.h>
}

namespace trackloom::cli {

namespace {

// Calls judge(nal, size) for each NAL unit of an access unit, in length-prefixed form
// (length_size bytes of big-endian length before each) or, for length_size 0, in
// start code form, where size runs to the end of the data. False when the data is
// not well formed or judge said false; true only if there was at least one unit.
template <typename Judge>
bool EachNal(const uint8_t* data, int size, int length_size, Judge judge) {
  bool any = false;
  if (length_size > 0) {
    int pos = 0;
    while (pos + length_size <= size) {
      uint32_t length = 0;
      for (int i = 0; i < length_size; ++i) length = (length << 8) | data[pos + i];
      pos += length_size;
      if (length == 0 || length > static_cast<uint32_t>(size - pos)) return false;
      if (!judge(data + pos, static_cast<int>(length))) return false;
      pos += static_cast<int>(length);
      any = true;
    }
    return any && pos == size;
  }
  for (int pos = 0; pos + 3 < size; ++pos) {
    if (data[pos] == 0 && data[pos + 1] == 0 && data[pos + 2] == 1) {
      pos += 3;
      if (!judge(data + pos, size - pos)) return false;
      any = true;
    }
  }
  return any;
}

// HEVC NAL unit types (the two-byte header's bits 1-6).
constexpr int kHevcSps = 33;
constexpr int kHevcAccessUnitDelimiter = 35;
constexpr int kHevcPrefixSei = 39;
constexpr int kHevcSuffixSei = 40;
constexpr int kHevcFiller = 38;

}  // namespace

UnreferencedPictures::UnreferencedPictures(AVCodecID codec, const uint8_t* extradata,
                                           int extradata_size)
    : codec_(codec) {
  if (extradata == nullptr) extradata_size = 0;
  if (codec == AV_CODEC_ID_H264 && extradata_size >= 7 && extradata[0] == 1) {
    length_size_ = (extradata[4] & 3) + 1;  // avcC lengthSizeMinusOne
  }
  if (codec != AV_CODEC_ID_HEVC) return;
  const bool hvcc =
      extradata_size >= 23 && (extradata[0] != 0 || extradata[1] != 0 || extradata[2] > 1);
  if (!hvcc) {
    EachNal(extradata, extradata_size, 0, [this](const uint8_t* nal, int size) {
      FollowHevcSetup(nal, size);
      return true;
    });
    return;
  }
  length_size_ = (extradata[21] & 3) + 1;  // hvcC lengthSizeMinusOne
  // hvcC byte 22: the number of arrays; each is one byte of NAL type, a 16-bit count,
  // and that many units, each after its 16-bit length.
  int pos = 23;
  for (int array = 0; array < extradata[22] && pos + 3 <= extradata_size; ++array) {
    const int count = (extradata[pos + 1] << 8) | extradata[pos + 2];
    pos += 3;
    for (int i = 0; i < count && pos + 2 <= extradata_size; ++i) {
      const int length = (extradata[pos] << 8) | extradata[pos + 1];
      pos += 2;
      if (length > extradata_size - pos) return;
      FollowHevcSetup(extradata + pos, length);
      pos += length;
    }
  }
}

bool UnreferencedPictures::NothingReferences(const AVPacket& packet) {
  if (packet.data == nullptr || packet.size <= 0) return false;
  switch (codec_) {
    case AV_CODEC_ID_H264:
      if (H264(packet.data, packet.size)) return true;
      break;
    case AV_CODEC_ID_HEVC:
      // Run even for disposable packets: they may carry parameter sets to follow.
      if (Hevc(packet.data, packet.size)) return true;
      break;
    case AV_CODEC_ID_MPEG1VIDEO:
    case AV_CODEC_ID_MPEG2VIDEO:
      if (Mpeg12(packet.data, packet.size)) return true;
      break;
    default:
      break;
  }
  return (packet.flags & AV_PKT_FLAG_DISPOSABLE) != 0;
}

bool UnreferencedPictures::H264(const uint8_t* data, int size) const {
  bool slice = false;
  const bool well_formed = EachNal(data, size, length_size_, [&slice](const uint8_t* nal, int) {
    const int type = nal[0] & 0x1f;
    if (type == 1) {                           // a slice of a picture other than an IDR one
      if ((nal[0] & 0x60) != 0) return false;  // nal_ref_idc
      slice = true;
      return true;
    }
    return type == 6 || type == 9 || type == 12;  // SEI, delimiter, filler
  });
  return well_formed && slice;
}

void UnreferencedPictures::FollowHevcSetup(const uint8_t* nal, int size) {
  // After the two-byte header: sps_video_parameter_set_id (4 bits), then
  // sps_max_sub_layers_minus1 (3 bits).
  if (size < 3 || ((nal[0] >> 1) & 0x3f) != kHevcSps) return;
  const int top = (nal[2] >> 1) & 7;
  if (top > hevc_top_sub_layer_) hevc_top_sub_layer_ = top;
}

bool UnreferencedPictures::Hevc(const uint8_t* data, int size) {
  bool picture = false;
  bool others_need_it = false;
  const bool well_formed = EachNal(data, size, length_size_, [&](const uint8_t* nal, int length) {
    if (length < 2) return false;
    const int type = (nal[0] >> 1) & 0x3f;
    const int layer = ((nal[0] & 1) << 5) | (nal[1] >> 3);
    const int sub_layer = (nal[1] & 7) - 1;
    FollowHevcSetup(nal, length);
    if (type < 16) {
      // Types 0, 2, ..., 14 are sub-layer non-reference pictures: no picture of the
      // same sub-layer is decoded from them, but pictures of higher ones may be, so
      // only those of the stream's highest sub-layer qualify. Their sub-layer never
      // counts for another picture's order count either.
      if (type % 2 != 0 || layer != 0 || sub_layer < 0 || sub_layer != hevc_top_sub_layer_)
        others_need_it = true;
      picture = true;
    } else if (type != kHevcAccessUnitDelimiter && type != kHevcPrefixSei &&
               type != kHevcSuffixSei && type != kHevcFiller) {
      others_need_it = true;  // parameter sets, end of sequence or bitstream, pictures kept whole
    }
    return true;  // keep reading: later units may carry parameter sets to follow
  });
  return well_formed && picture && !others_need_it;
}

bool UnreferencedPictures::Mpeg12(const uint8_t* data, int size) {
  // Start codes: 0x00 picture, 0x01-0xaf slices, 0xb2 user data, 0xb5 extension; a
  // sequence header (0xb3), GOP header (0xb8) or sequence end (0xb7) is needed later.
  bool picture = false;
  for (int pos = 0; pos + 3 < size; ++pos) {
    if (data[pos] != 0 || data[pos + 1] != 0 || data[pos + 2] != 1) continue;
    const int code = data[pos + 3];
    if (code == 0x00) {
      // temporal_reference (10 bits), then picture_coding_type (3 bits): 3 is B.
      if (pos + 5 >= size || ((data[pos + 5] >> 3) & 7) != 3) return false;
      picture = true;
    } else if (code > 0xaf && code != 0xb2 && code != 0xb5) {
      return false;
    }
    pos += 3;
  }
  return picture;
}

}  // namespace trackloom::cli
