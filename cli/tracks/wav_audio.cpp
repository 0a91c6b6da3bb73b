// The CD audio inside a WAV file: its data chunk, found by walking the RIFF chunks.
#include "cli/common/interrupt.h"
#include "cli/tracks/disc_image.h"
#include "cli/tracks/sheet_file.h"
#include "core/track_format.h"

namespace trackloom::cli {

namespace {

// CD audio is what a track file declares itself to be.
constexpr uint16_t kExtensible = 0xFFFE;  // the WAV format code of WAVE_FORMAT_EXTENSIBLE
constexpr uint32_t kCdRate = kTrackSampleRate;
constexpr uint16_t kCdChannels = kTrackChannels;
constexpr uint16_t kCdBits = kTrackBitsPerSample;

}  // namespace

std::optional<AudioRange> FindWavAudio(const std::string& path, std::string* error, bool take_cut) {
  std::unique_ptr<FileSource> file = FileSource::Open(path, error);
  if (file == nullptr) {
    *error = "cannot open " + Quoted(path) + ": " + *error;
    return std::nullopt;
  }
  auto fail = [&](const std::string& what) {
    *error = Quoted(path) + " " + what;
    return std::nullopt;
  };
  const uint64_t size = file->Size();
  uint8_t riff[wav::kFormatTagOffset];  // "RIFF", its size, "WAVE"; then the chunks
  if (size < sizeof riff || !file->ReadAt(0, riff, sizeof riff) ||
      !wav::HasTag(riff + wav::kRiffTagOffset, "RIFF") ||
      !wav::HasTag(riff + wav::kWaveTagOffset, "WAVE")) {
    return fail("is not a WAV file (no RIFF/WAVE header)");
  }
  bool have_format = false;
  for (uint64_t at = sizeof riff; at + wav::kChunkHeaderSize <= size;) {
    // A file of millions of empty chunks takes minutes to walk: a stop is heard.
    if (StopRequested()) return fail("was not read to its end: interrupted");
    uint8_t chunk[wav::kChunkHeaderSize];  // tag and length
    if (!file->ReadAt(at, chunk, sizeof chunk)) return fail("cannot be read");
    const uint64_t length = wav::GetLe32(chunk + 4);
    const uint64_t body = at + wav::kChunkHeaderSize;
    if (wav::HasTag(chunk, "fmt ")) {
      uint8_t f[wav::kFormatChunkLength];
      if (length < sizeof f || body + sizeof f > size || !file->ReadAt(body, f, sizeof f)) {
        return fail("has a cut-off format chunk");
      }
      const uint16_t format = wav::GetLe16(f + wav::kFormatCodeField);
      const uint16_t channels = wav::GetLe16(f + wav::kChannelsField);
      const uint32_t rate = wav::GetLe32(f + wav::kSampleRateField);
      const uint16_t bits = wav::GetLe16(f + wav::kBitsPerSampleField);
      if ((format != wav::kFormatPcm && format != kExtensible) || channels != kCdChannels ||
          rate != kCdRate || bits != kCdBits) {
        return fail("is not CD audio: it holds " + std::to_string(channels) + " channel(s) of " +
                    std::to_string(bits) + "-bit samples at " + std::to_string(rate) +
                    " Hz (format " + std::to_string(format) +
                    "); a disc track is 44100 Hz, 16-bit, stereo PCM");
      }
      have_format = true;
    } else if (wav::HasTag(chunk, "data")) {
      if (!have_format) return fail("has its data chunk before its format chunk");
      if (length > size - body && take_cut)
        return AudioRange{path, body, size - body, length - (size - body)};
      if (length > size - body) {
        return fail("is cut off: its data chunk states " + std::to_string(length) +
                    " bytes, the file holds " + std::to_string(size - body));
      }
      return AudioRange{path, body, length};
    }
    at = body + length + (length & 1);  // chunks are padded to an even length
  }
  return fail("has no data chunk");
}

}  // namespace trackloom::cli
