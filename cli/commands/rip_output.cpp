#include "cli/commands/rip_output.h"

#include <filesystem>

#include "cli/common/cli_error.h"
#include "cli/common/messages.h"
#include "cli/common/output_file.h"
#include "cli/common/platform.h"
#include "cli/ffmpeg/archive_video.h"
#include "cli/ffmpeg/background_video.h"
#include "cli/ffmpeg/preview_video.h"
#include "cli/tracks/track_reader.h"
#include "core/track_format.h"

namespace trackloom::cli {
namespace {

namespace fs = std::filesystem;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
  return s;
}

std::string DirectoryOf(const std::string& path) {
  const fs::path parent = fs::path(path).parent_path();
  return parent.empty() ? "." : parent.string();
}

}  // namespace

RipFormat RipFormatOf(const std::string& path) {
  const std::string extension = Lower(fs::path(path).extension().string());
  if (extension == ".mkv") return RipFormat::kArchive;
  // Only these hold the chapters a rip is made of.
  if (extension != ".mp4" && extension != ".mov" && extension != ".m4v") return RipFormat::kUnknown;
  return ffmpeg::PreviewVideoNameFits(path) ? RipFormat::kWatch : RipFormat::kUnknown;
}

RipOutput::RipOutput(const RipOptions& o, std::vector<std::string> inputs)
    : o_(o),
      inputs_(std::move(inputs)),
      format_(RipFormatOf(o.output)),
      size_(format_ == RipFormat::kWatch ? ViewDisplaySize(o.view, o.scale)
                                         : PictureRect{0, 0, kPictureWidth, kPictureHeight}),
      rgb_(kRgbPictureSize, 0),
      picture_(kRgbPictureSize, 0),
      sound_(kAudioChunkSize, kSilence) {
  // Pictures for watching are made here, a picture the same as the one before not
  // again. The pixels view is scaled and converted once, and handed to the encoder
  // as it takes them; the panel's single-colour dots go as RGB, converted by swscale,
  // whose chroma keeps them apart better than a mean would.
  const size_t pixels = static_cast<size_t>(size_.width) * static_cast<size_t>(size_.height);
  if (format_ == RipFormat::kWatch && o.view == View::kPixels) {
    shown_.resize(Yuv420Size(size_.width, size_.height));
    pixels_ = std::make_unique<PixelsViewYuv>(size_.width, size_.height);
  } else if (format_ == RipFormat::kWatch) {
    shown_.resize(pixels * 3);
  }
}

std::string RipOutput::NameFor(int track) const {
  if (!o_.each) return o_.output;
  const fs::path p(o_.output);
  return (p.parent_path() / (p.stem().string() + Format("-%02d", track) + p.extension().string()))
      .string();
}

void RipOutput::CheckName(const std::string& path) const {
  const std::string refusal = OutputRefusal(path, o_.overwrite);
  if (!refusal.empty()) throw CliError("cannot write '" + Printable(path) + "': " + refusal);
  if (const std::string* input = SameFileAsInput(path, inputs_)) {
    throw CliError(SameFileMessage(path, *input));
  }
}

void RipOutput::CheckNames() const {
  const std::string directory = DirectoryOf(o_.output);
  std::error_code ec;
  if (!fs::is_directory(directory, ec)) {
    throw CliError("cannot write '" + Printable(o_.output) + "': the directory '" +
                   Printable(directory) + "' does not exist");
  }
  if (!o_.each) return CheckName(o_.output);
  for (int t = 1; t <= kCdMaxTracks; ++t) CheckName(NameFor(t));
}

void RipOutput::Open(const std::string& path) {
  const fs::path p(path);
  // The hidden name is the video's with a dot and a unique part: a stem as long as a
  // name may be is cut so that it still fits.
  constexpr size_t kLongestName = 255;
  const std::string extension = p.extension().string();
  std::string stem = p.stem().string();
  const size_t room = kLongestName - std::min(kLongestName, extension.size() + 8);
  if (stem.size() > room) stem.resize(room);
  temp_.Create(DirectoryOf(path), "." + stem + "-", extension);
  target_ = path;
  std::string error;
  std::unique_ptr<ffmpeg::RecordVideo> video;
  if (format_ == RipFormat::kArchive) {
    video = ffmpeg::ArchiveVideo::Create(temp_.path(), &error);
  } else {
    video = ffmpeg::PreviewVideo::Create(
        temp_.path(), size_.width, size_.height, &error, ffmpeg::kWholeDiscPace,
        pixels_ != nullptr ? ffmpeg::PreviewPictures::kYuv420 : ffmpeg::PreviewPictures::kRgb);
  }
  if (video == nullptr) throw CliError(error);
  // The encoders work on a thread of their own while the disc is read and taken apart.
  video_ = std::make_unique<ffmpeg::BackgroundVideo>(
      std::move(video), format_ == RipFormat::kWatch ? shown_.size() : rgb_.size());
}

bool RipOutput::BeginChapter(int track) {
  if (o_.each) Finish();
  if (video_ == nullptr) Open(NameFor(track));
  video_->BeginChapter(Format("Track %02d", track));
  return true;
}

bool RipOutput::Record(const uint8_t* record) {
  if (record != nullptr) {
    if (format_ == RipFormat::kWatch) {
      DecodeRecordPicture(record, picture_.data());
      shown_stale_ = shown_stale_ || picture_ != rgb_;
      rgb_.swap(picture_);
    } else {
      DecodeRecordPicture(record, rgb_.data());
    }
    ExtractRecordSound(record, sound_.data());
  } else {
    std::fill(sound_.begin(), sound_.end(), kSilence);  // the picture before stays
  }
  const uint8_t* picture = rgb_.data();
  if (format_ == RipFormat::kWatch) {
    if (shown_stale_ && pixels_ != nullptr) pixels_->Render(rgb_.data(), shown_.data());
    if (shown_stale_ && pixels_ == nullptr)
      RenderView(o_.view, rgb_.data(), size_.width, size_.height, shown_.data());
    shown_stale_ = false;
    picture = shown_.data();
  }
  std::string error;
  if (!video_->AddRecord(picture, sound_.data(), &error)) throw CliError(error);
  return true;
}

std::vector<std::string> RipOutput::Finish() {
  if (video_ == nullptr) return written_;
  std::string error;
  const bool done = video_->Finish(&error);
  video_.reset();
  if (!done) throw CliError(error);
  // A temporary file is made readable by its owner only; the video is an ordinary file.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::chmod(temp_.path().c_str(), 0666 & ~mask);
  if (o_.overwrite) {
    temp_.Keep(target_);
  } else if (!temp_.KeepAsNew(target_)) {
    temp_.Remove();
    throw CliError("'" + Printable(target_) +
                   "' appeared while the disc was read: it is left as it was and this video "
                   "was not kept (give --overwrite to replace it)");
  }
  written_.push_back(target_);
  return written_;
}

}  // namespace trackloom::cli
