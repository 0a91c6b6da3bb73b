// Feeds arbitrary bytes, as a stream's setup and the packets that follow it, to the
// check that tells which pictures nothing references, for each codec it reads. It
// may not read outside a packet or the setup, and a packet it calls unreferenced must
// be one that holds data.
//
// Input: one byte choosing the codec, one giving the length of the setup (extradata),
// the setup, then packets, each after a 16-bit big-endian length.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "cli/ffmpeg/unreferenced_pictures.h"

extern "C" {
#include <libavcodec/packet.h>
}

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

constexpr AVCodecID kCodecs[] = {AV_CODEC_ID_H264,       AV_CODEC_ID_HEVC,  AV_CODEC_ID_MPEG2VIDEO,
                                 AV_CODEC_ID_MPEG1VIDEO, AV_CODEC_ID_MJPEG, AV_CODEC_ID_VP9};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const AVCodecID codec = kCodecs[data[0] % (sizeof kCodecs / sizeof kCodecs[0])];
  size_t pos = 2;
  const size_t setup_size = std::min<size_t>(data[1], size - pos);
  // Copies, so that a read past the end of either is caught.
  const std::vector<uint8_t> setup(data + pos, data + pos + setup_size);
  pos += setup_size;
  trackloom::cli::ffmpeg::UnreferencedPictures check(codec, setup.empty() ? nullptr : setup.data(),
                                                     static_cast<int>(setup.size()), 1080);
  while (pos + 2 <= size) {
    const size_t length =
        std::min<size_t>((size_t{data[pos]} << 8) | data[pos + 1], size - pos - 2);
    pos += 2;
    std::vector<uint8_t> bytes(data + pos, data + pos + length);
    pos += length;
    AVPacket packet = {};
    packet.data = bytes.empty() ? nullptr : bytes.data();
    packet.size = static_cast<int>(bytes.size());
    packet.flags = static_cast<int>(length % 3 == 0 ? AV_PKT_FLAG_KEY : 0);
    if (check.NothingReferences(packet)) Check(packet.size > 0);
  }
  return 0;
}
