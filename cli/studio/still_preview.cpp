#include "cli/studio/still_preview.h"

#include <algorithm>
#include <cmath>

#include "cli/pictures/panel_levels.h"
#include "cli/pictures/panel_view.h"
#include "core/track_format.h"

namespace trackloom::cli::studio {

namespace {

constexpr int kGap = 8;  // dark pixels between the two views

// Draws view of the record into the preview at column left.
void Place(View view, int scale, const std::vector<uint8_t>& record, int left, StillPreview& out) {
  const PictureRect size = ViewDisplaySize(view, scale);
  std::vector<uint8_t> shown(size_t{3} * static_cast<size_t>(size.width * size.height));
  RenderView(view, record.data(), size.width, size.height, shown.data());
  for (int y = 0; y < size.height && y < out.height; ++y) {
    std::copy_n(shown.data() + size_t{3} * static_cast<size_t>(y * size.width),
                size_t{3} * static_cast<size_t>(size.width),
                out.rgb.data() + size_t{3} * static_cast<size_t>(y * out.width + left));
  }
}

}  // namespace

std::vector<uint8_t> RecordRgb(const ffmpeg::Picture& picture) {
  std::vector<uint8_t> rgb(size_t{kPictureWidth} * kPictureHeight * 3);
  for (int y = 0; y < kPictureHeight; ++y) {
    const uint8_t* row = picture.top_row + static_cast<ptrdiff_t>(y) * picture.stride;
    uint8_t* out = rgb.data() + size_t{3} * kPictureWidth * static_cast<size_t>(y);
    for (int x = 0; x < kPictureWidth; ++x) {
      out[3 * x] = row[4 * x + 2];
      out[3 * x + 1] = row[4 * x + 1];
      out[3 * x + 2] = row[4 * x];
    }
  }
  ShowAtLevels(rgb.data(), size_t{kPictureWidth} * kPictureHeight, levels::StandardTables());
  return rgb;
}

StillPreview ComposePreview(const std::vector<uint8_t>& record, double shown_seconds) {
  StillPreview out;
  const PictureRect panel = ViewDisplaySize(View::kPanel, 1);
  const PictureRect pixels = ViewDisplaySize(View::kPixels, panel.width / kPictureWidth);
  out.width = panel.width + kGap + pixels.width;
  out.height = std::max(panel.height, pixels.height);
  out.rgb.assign(size_t{3} * static_cast<size_t>(out.width * out.height), 24);
  if (record.empty()) return out;  // an input with no picture: the dark frame says so
  Place(View::kPanel, 1, record, 0, out);
  Place(View::kPixels, panel.width / kPictureWidth, record, panel.width + kGap, out);
  out.shown_seconds = shown_seconds;
  return out;
}

StillPreview RenderStillPreview(const std::string& input, const ffmpeg::PictureOptions& options,
                                double seconds) {
  std::unique_ptr<ffmpeg::VideoSource> source = ffmpeg::VideoSource::Open(input, options);
  seconds = std::max(0.0, seconds);
  source->SeekNear(seconds);
  // The player shows record floor(seconds x 18): the last picture the 18 fps cut
  // places in that slot or before it.
  const auto slot = static_cast<int64_t>(std::floor(seconds * kFramesPerSecond + 1e-9));
  const double rate = source->input_frame_rate();
  ffmpeg::Picture picture{};
  std::vector<uint8_t> record;
  int64_t shown_frame = 0;
  // A still gives its one picture again and again: the first is the one.
  source->set_sound_seconds(1);
  // The last input frame whose time rounds into the slot, at the input's own rate:
  // once it is reached, no later picture is needed.
  const auto last_in_slot = static_cast<int64_t>(
      std::ceil((static_cast<double>(slot) + 0.5) * rate / kFramesPerSecond) - 1);
  while (source->Next(picture)) {
    const double at = static_cast<double>(picture.source_frame) / rate * kFramesPerSecond;
    if (!record.empty() && std::llround(at) > slot) break;
    record = RecordRgb(picture);
    shown_frame = picture.source_frame;
    if (source->still() || picture.source_frame >= last_in_slot) break;
  }
  return ComposePreview(record, record.empty() ? 0 : static_cast<double>(shown_frame) / rate);
}

VideoFacts ReadVideoFacts(const std::string& input) {
  std::unique_ptr<ffmpeg::VideoSource> source =
      ffmpeg::VideoSource::Open(input, ffmpeg::PictureOptions{});
  VideoFacts facts;
  facts.still = source->still();
  if (!facts.still && source->estimated_frames() > 0)
    facts.seconds = static_cast<double>(source->estimated_frames()) / kFramesPerSecond;
  facts.width = source->input_width();
  facts.height = source->input_height();
  facts.chapters = source->chapter_starts();
  return facts;
}

}  // namespace trackloom::cli::studio
