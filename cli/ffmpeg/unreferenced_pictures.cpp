#include "cli/ffmpeg/unreferenced_pictures.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavcodec/packet.h>
}

#include "cli/common/platform.h"

namespace trackloom::cli::ffmpeg {

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
                                           int extradata_size, int height)
    : codec_(codec), height_(height) {
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
  bool nothing = (packet.flags & AV_PKT_FLAG_DISPOSABLE) != 0;
  switch (codec_) {
    case AV_CODEC_ID_H264:
      nothing = nothing || H264(packet.data, packet.size);
      break;
    case AV_CODEC_ID_HEVC:
      // Read even when disposable: parameter sets in it are to be followed.
      nothing = Hevc(packet.data, packet.size) || nothing;
      break;
    case AV_CODEC_ID_MPEG1VIDEO:
    case AV_CODEC_ID_MPEG2VIDEO:
      nothing = nothing || Mpeg12(packet.data, packet.size);
      break;
    // Every picture a key picture, and nothing of it kept for the next one.
    case AV_CODEC_ID_MJPEG:
      return Mjpeg(packet.data, packet.size);
    case AV_CODEC_ID_PRORES:
      return true;
    default:
      break;
  }
  return nothing && (packet.flags & AV_PKT_FLAG_KEY) == 0;
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

bool UnreferencedPictures::Mjpeg(const uint8_t* data, int size) {
  // SOI, then marker segments (0xff, marker, 16-bit length counting itself) up to and
  // including the first SOS (0xda), whose entropy-coded data follows.
  bool single_baseline_frame = false;
  int pos = 2;
  const bool well_formed = [&] {
    if (size < 4 || data[0] != 0xff || data[1] != 0xd8) return false;
    for (;;) {
      if (pos + 4 > size || data[pos] != 0xff) return false;
      const int marker = data[pos + 1];
      if (marker == 0xff) {  // fill byte
        ++pos;
        continue;
      }
      const int length = (data[pos + 2] << 8) | data[pos + 3];
      if (length < 2 || length > size - pos - 2) return false;
      if (marker == 0xc0 || marker == 0xc1) {  // baseline or extended sequential, Huffman
        // SOF: precision (1 byte), then the number of lines.
        const int lines = length >= 5 ? (data[pos + 5] << 8) | data[pos + 6] : 0;
        // A picture much shorter than the stream's is one field of two, which the
        // decoder pairs across packets.
        single_baseline_frame =
            lines > 0 && height_ > 0 && int64_t{lines} * 4 >= int64_t{height_} * 3;
      } else if (marker >= 0xc2 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 &&
                 marker != 0xcc) {
        single_baseline_frame = false;  // progressive, lossless or arithmetic-coded
      }
      pos += 2 + length;
      if (marker == 0xda) return true;
    }
  }();
  const bool same_tables = well_formed && jpeg_header_.size() == static_cast<size_t>(pos) &&
                           std::equal(jpeg_header_.begin(), jpeg_header_.end(), data);
  // Pictures in a row mostly share their tables: kept as they are, they need no copy.
  if (!same_tables && well_formed) {
    jpeg_header_.assign(data, data + pos);
  } else if (!well_formed) {
    jpeg_header_.clear();
  }
  if (!same_tables || !single_baseline_frame) return false;
  // In entropy-coded data 0xff is followed by 0 (a stuffed byte), a restart marker or
  // fill; anything else but the end of the picture is a further scan or marker, whose
  // tables would stay behind. After the end, no second picture.
  for (; pos + 1 < size; ++pos) {
    const void* found = std::memchr(data + pos, 0xff, static_cast<size_t>(size - pos - 1));
    if (found == nullptr) return false;
    pos = static_cast<int>(static_cast<const uint8_t*>(found) - data);
    const int next = data[pos + 1];
    if (next == 0x00 || next == 0xff || (next >= 0xd0 && next <= 0xd7)) continue;
    if (next != 0xd9) return false;
    static constexpr uint8_t kStartOfImage[2] = {0xff, 0xd8};
    return memmem(data + pos + 2, static_cast<size_t>(size - pos - 2), kStartOfImage, 2) == nullptr;
  }
  return false;
}

}  // namespace trackloom::cli::ffmpeg
