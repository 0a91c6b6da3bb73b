// How close the pictures come to their sources on the player's panel, for every way
// of making them: fit (letterbox, crop), dithering (ordered, none) and the scaler.
//
// For each test clip (made here with FFmpeg's own sources) and each mode:
//   1. the 144 x 80 pictures are made by the ffmpeg command with the encoder's own
//      filter chain (BuildFilterChain, only the scaler varied) and reduced to the 16
//      levels by the encoder's own ReduceToPanelLevels; for the default scaler, the
//      same clip is also run through `trackloom encode` and its records must match
//      these pictures exactly, so what is measured is what the command writes;
//   2. each picture is laid on the panel's 216 x 160 dots (RenderPanel's order, odd
//      rows half a dot to the left);
//   3. the source is rendered to the same dots: scaled by area averaging straight to
//      432 x 160 half-dot cells in the same 4:3 placement, each dot the mean of the
//      two cells it covers, at full 8-bit precision;
//   4. both are seen at a viewing distance: every component's dots are spread into a
//      plane of its own by a Gaussian of one dot (the panel's dots are about 0.22 mm,
//      close to the eye's resolution at arm's length), and compared per component by
//      PSNR and SSIM (Gaussian window, sigma 1.5 dots).
// Beside them, what an eye at arm's length sees of the whole picture: the source with
// all three components on every dot, spread by the same Gaussian, against the panel:
// the luminance PSNR, and the colour error (RMS over the picture and the components
// of each component's difference from the dot's mean brightness, against the same of
// the source), which on black and white edges and text is the colour fringing.
// Every mode is run with both samplings: a pixel's three components from the whole
// pixel, or each from around its own dot (--sampling subpixel).
// On the ramp, banding is the largest difference between the two column averages of
// the seen brightness, in 8-bit steps: a band edge of plain rounding is up to 8.5.
//
// Then the level tables: standard against adaptive on every clip, with scenes made for
// them (dark, fog, cartoon), in the default mode (LevelsTable).
//
//   build/native/bench/picture_quality [TRACKLOOM] [WORKDIR] [levels]
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cli/ffmpeg/video_source.h"
#include "cli/pictures/panel_levels.h"
#include "cli/pictures/panel_view.h"
#include "cli/pictures/subpixel_sampling.h"
#include "cli/tracks/track_files.h"
#include "cli/tracks/track_reader.h"
#include "core/track_format.h"

namespace {

using namespace trackloom;
using namespace trackloom::cli;
namespace fs = std::filesystem;

constexpr int kW = kPanelWidth;
constexpr int kH = kPanelHeight;
constexpr int kFrames = 6;  // pictures compared a clip

struct Clip {
  const char* name;
  const char* source;  // lavfi graph, 18 fps
  int width, height;
};

// Stills unless said otherwise; sizes of common films.
const Clip kClips[] = {
    {"ramp", "color=black:s=640x480:r=18:d=1,format=rgb24,geq=r='X*255/W':g='X*255/W':b='X*255/W'",
     640, 480},
    {"skin",
     "color=black:s=640x480:r=18:d=1,format=rgb24,"
     "geq=r='150+70*X/W+20*sin(Y/60)':g='100+60*X/W+20*sin(Y/60)':b='80+50*X/W+15*cos(X/80)'",
     640, 480},
    {"text",
     "color=white:s=1280x720:r=18:d=1,drawtext=text='Track 01 the quick brown "
     "fox':fontsize=64:x=80:y=200,"
     "drawtext=text='0123456789 ABCDEFGHIJ':fontsize=48:x=80:y=400:fontcolor=navy",
     1280, 720},
    {"natural", "mandelbrot=s=1280x720:r=18,trim=duration=1", 1280, 720},
    {"moving", "testsrc2=s=1280x720:r=18:d=1", 1280, 720},
    // Fine detail: text of several sizes, black on white, a zone plate (rings up to
    // about twice the finest the pixels carry), gratings of lines one, two and three
    // stored pixels wide (576 source pixels are four a stored column), and a slanted
    // black and white edge for the colour fringes.
    {"text small",
     "color=white:s=1280x720:r=18:d=1,drawtext=text='Track 01 the quick brown fox jumps "
     "over':fontsize=28:x=40:y=150,drawtext=text='0123456789 ABCDEFGHIJKLMNOP':fontsize=36:x=40:"
     "y=300,drawtext=text='Chapter 2 - the lazy dog':fontsize=44:x=40:y=450",
     1280, 720},
    {"text large",
     "color=white:s=1280x720:r=18:d=1,drawtext=text='Track 01 fox':fontsize=96:x=60:y=150,"
     "drawtext=text='0123 ABCD':fontsize=128:x=60:y=400",
     1280, 720},
    {"zone plate",
     "color=black:s=640x480:r=18:d=1,format=rgb24,"
     "geq=r='128+127*cos(0.0025*((X-320)*(X-320)+(Y-240)*(Y-240)))':"
     "g='128+127*cos(0.0025*((X-320)*(X-320)+(Y-240)*(Y-240)))':"
     "b='128+127*cos(0.0025*((X-320)*(X-320)+(Y-240)*(Y-240)))'",
     640, 480},
    {"lines 1",
     "color=black:s=576x432:r=18:d=1,format=rgb24,geq=r='255*mod(floor(X/4),2)':"
     "g='255*mod(floor(X/4),2)':b='255*mod(floor(X/4),2)'",
     576, 432},
    {"lines 2",
     "color=black:s=576x432:r=18:d=1,format=rgb24,geq=r='255*mod(floor(X/8),2)':"
     "g='255*mod(floor(X/8),2)':b='255*mod(floor(X/8),2)'",
     576, 432},
    {"lines 3",
     "color=black:s=576x432:r=18:d=1,format=rgb24,geq=r='255*mod(floor(X/12),2)':"
     "g='255*mod(floor(X/12),2)':b='255*mod(floor(X/12),2)'",
     576, 432},
    {"edge",
     "color=black:s=576x432:r=18:d=1,format=rgb24,geq=r='255*lt(X,200+Y/3)':"
     "g='255*lt(X,200+Y/3)':b='255*lt(X,200+Y/3)'",
     576, 432},
};

// Scenes for the level tables: a night (a picture squeezed under a fifth of the
// range, slightly blue), fog (a soft picture in a pale fifth of it) and a cartoon
// (flat colours, black outlines, a sky gradient); the default mode only.
const Clip kLevelClips[] = {
    {"dark",
     "mandelbrot=s=1280x720:r=18,trim=duration=1,colorlevels=romax=0.16:gomax=0.18:bomax=0.24",
     1280, 720},
    {"fog",
     "mandelbrot=s=1280x720:r=18,trim=duration=1,gblur=sigma=4,"
     "colorlevels=romin=0.6:gomin=0.62:bomin=0.64:romax=0.78:gomax=0.8:bomax=0.84",
     1280, 720},
    {"cartoon",
     "color=black:s=1280x720:r=18:d=1,format=rgb24,geq=r='90+60*Y/H':g='150+60*Y/H':b='230',"
     "drawbox=x=0:y=470:w=1280:h=250:color=0x3a9a2a:t=fill,"
     "drawbox=x=380:y=180:w=360:h=360:color=black:t=fill,"
     "drawbox=x=392:y=192:w=336:h=336:color=0xf0c020:t=fill,"
     "drawbox=x=470:y=280:w=50:h=70:color=black:t=fill,drawbox=x=600:y=280:w=50:h=70:color=black:t="
     "fill,"
     "drawbox=x=900:y=90:w=200:h=120:color=white:t=fill,drawbox=x=470:y=420:w=180:h=24:color="
     "0xc02020:t=fill",
     1280, 720},
};

struct Mode {
  const char* name;
  ffmpeg::Fit fit;
  Dither dither;
  const char* scaler;  // swscale flags in place of area
  Sampling sampling;
};

const Mode kModes[] = {
    {"letterbox ordered", ffmpeg::Fit::kLetterbox, Dither::kOrdered, "area", Sampling::kPixel},
    {"letterbox ordered subpixel", ffmpeg::Fit::kLetterbox, Dither::kOrdered, "area",
     Sampling::kSubpixel},
    {"letterbox none", ffmpeg::Fit::kLetterbox, Dither::kNone, "area", Sampling::kPixel},
    {"letterbox none subpixel", ffmpeg::Fit::kLetterbox, Dither::kNone, "area",
     Sampling::kSubpixel},
    {"crop ordered", ffmpeg::Fit::kCrop, Dither::kOrdered, "area", Sampling::kPixel},
    {"crop ordered subpixel", ffmpeg::Fit::kCrop, Dither::kOrdered, "area", Sampling::kSubpixel},
    {"crop none", ffmpeg::Fit::kCrop, Dither::kNone, "area", Sampling::kPixel},
    {"letterbox ordered bicubic", ffmpeg::Fit::kLetterbox, Dither::kOrdered, "bicubic",
     Sampling::kPixel},
    {"letterbox ordered lanczos", ffmpeg::Fit::kLetterbox, Dither::kOrdered, "lanczos",
     Sampling::kPixel},
};

void Run(const std::string& command) {
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "picture_quality: failed: %s\n", command.c_str());
    std::exit(1);
  }
}

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// Frames of a clip as raw pixels through a filter chain.
std::vector<uint8_t> Frames(const std::string& clip, const std::string& chain, const char* format,
                            const std::string& out) {
  Run("ffmpeg -nostdin -v error -y -i '" + clip + "' -vf '" + chain + "' -frames:v " +
      std::to_string(kFrames + 1) + " -pix_fmt " + format + " -f rawvideo '" + out + "'");
  return ReadAll(out);
}

// One dot's component value (0 red, 1 green, 2 blue) and its picture pixel.
int DotComponent(int x, int y) { return (x + y % 2) % 3; }

using Plane = std::vector<double>;  // kW x kH

// The dots of one component spread into a plane by a Gaussian (normalised, so the
// gaps between a component's dots are filled by its neighbours); component -1 takes
// every dot.
Plane Seen(const std::vector<double>& dots, int component) {
  constexpr double kSigma = 1.0;
  constexpr int kReach = 3;
  Plane sum(kW * kH, 0), weight(kW * kH, 0);
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      if (component >= 0 && DotComponent(x, y) != component) continue;
      // Dot centres: odd rows half a dot to the left.
      const double cx = x + (y % 2 ? 0.0 : 0.5);
      for (int v = std::max(0, y - kReach); v <= std::min(kH - 1, y + kReach); ++v) {
        for (int u = std::max(0, x - kReach); u <= std::min(kW - 1, x + kReach); ++u) {
          const double dx = u + 0.5 - cx, dy = v - y;
          const double w = std::exp(-(dx * dx + dy * dy) / (2 * kSigma * kSigma));
          sum[v * kW + u] += w * dots[y * kW + x];
          weight[v * kW + u] += w;
        }
      }
    }
  }
  for (size_t i = 0; i < sum.size(); ++i) sum[i] /= weight[i];
  return sum;
}

double Psnr(const Plane& a, const Plane& b) {
  double e = 0;
  for (size_t i = 0; i < a.size(); ++i) e += (a[i] - b[i]) * (a[i] - b[i]);
  e /= static_cast<double>(a.size());
  return e <= 1e-12 ? 99 : 10 * std::log10(255.0 * 255.0 / e);
}

// Mean SSIM with an 11 x 11 Gaussian window of sigma 1.5 (Wang et al.).
double Ssim(const Plane& a, const Plane& b) {
  constexpr double c1 = (0.01 * 255) * (0.01 * 255), c2 = (0.03 * 255) * (0.03 * 255);
  std::array<double, 11> g{};
  double total = 0;
  for (int i = 0; i < 11; ++i) total += g[i] = std::exp(-(i - 5) * (i - 5) / (2 * 1.5 * 1.5));
  for (double& v : g) v /= total;
  double sum = 0;
  int n = 0;
  for (int y = 5; y < kH - 5; ++y) {
    for (int x = 5; x < kW - 5; ++x) {
      double ma = 0, mb = 0, aa = 0, bb = 0, ab = 0;
      for (int v = -5; v <= 5; ++v) {
        for (int u = -5; u <= 5; ++u) {
          const double w = g[v + 5] * g[u + 5];
          const double p = a[(y + v) * kW + x + u], q = b[(y + v) * kW + x + u];
          ma += w * p, mb += w * q, aa += w * p * p, bb += w * q * q, ab += w * p * q;
        }
      }
      const double va = aa - ma * ma, vb = bb - mb * mb, cov = ab - ma * mb;
      sum += ((2 * ma * mb + c1) * (2 * cov + c2)) / ((ma * ma + mb * mb + c1) * (va + vb + c2));
      ++n;
    }
  }
  return sum / n;
}

struct Score {
  std::array<double, 3> psnr{}, ssim{};
  double luma_psnr = 0, fringe = 0;
  double banding = 0;
};

// The panel dots of one 144 x 80 RGB picture.
std::vector<double> PanelDots(const uint8_t* rgb) {
  std::vector<uint8_t> panel(kPanelImageSize);
  RenderPanel(rgb, panel.data());
  std::vector<double> dots(kW * kH);
  for (int i = 0; i < kW * kH; ++i) dots[i] = panel[i * 3 + DotComponent(i % kW, i / kW)];
  return dots;
}

// The source on the same dots, from 432 x 160 half-dot cells (RGB): each dot in its
// own colour, or with only_component, every dot in that one.
std::vector<double> SourceDots(const uint8_t* cells, int only_component = -1) {
  std::vector<double> dots(kW * kH);
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      const int c = only_component >= 0 ? only_component : DotComponent(x, y);
      const int left = y % 2 ? 2 * x - 1 : 2 * x;  // odd rows half a dot to the left
      double sum = 0;
      int count = 0;
      for (int j = left; j < left + 2; ++j) {
        if (j < 0 || j >= 2 * kW) continue;
        sum += cells[(y * 2 * kW + j) * 3 + c];
        ++count;
      }
      dots[y * kW + x] = sum / count;
    }
  }
  return dots;
}

double Luma(const std::array<Plane, 3>& p, size_t i) {
  return 0.299 * p[0][i] + 0.587 * p[1][i] + 0.114 * p[2][i];
}

// Luminance PSNR and colour error of the seen panel against the whole source.
void CompareSeen(const std::array<Plane, 3>& seen_test, const uint8_t* cells, Score& s) {
  std::array<Plane, 3> whole;
  for (int c = 0; c < 3; ++c) whole[c] = Seen(SourceDots(cells, c), -1);
  double luma_error = 0, colour_error = 0;
  const size_t n = whole[0].size();
  for (size_t i = 0; i < n; ++i) {
    const double d = Luma(seen_test, i) - Luma(whole, i);
    luma_error += d * d;
    const double mt = (seen_test[0][i] + seen_test[1][i] + seen_test[2][i]) / 3;
    const double ms = (whole[0][i] + whole[1][i] + whole[2][i]) / 3;
    for (int c = 0; c < 3; ++c) {
      const double e = (seen_test[c][i] - mt) - (whole[c][i] - ms);
      colour_error += e * e;
    }
  }
  luma_error /= static_cast<double>(n);
  s.luma_psnr = luma_error <= 1e-12 ? 99 : 10 * std::log10(255.0 * 255.0 / luma_error);
  s.fringe = std::sqrt(colour_error / static_cast<double>(3 * n));
}

Score Compare(const std::vector<double>& test, const uint8_t* cells, bool ramp) {
  Score s;
  const std::vector<double> source = SourceDots(cells);
  std::array<Plane, 3> seen_test, seen_source;
  for (int c = 0; c < 3; ++c) {
    seen_test[c] = Seen(test, c);
    seen_source[c] = Seen(source, c);
    s.psnr[c] = Psnr(seen_test[c], seen_source[c]);
    s.ssim[c] = Ssim(seen_test[c], seen_source[c]);
  }
  CompareSeen(seen_test, cells, s);
  if (ramp) {
    // Column averages of the seen brightness over the middle rows.
    for (int x = 3; x < kW - 3; ++x) {
      double t = 0, r = 0;
      for (int y = 20; y < kH - 20; ++y) {
        for (int c = 0; c < 3; ++c) t += seen_test[c][y * kW + x], r += seen_source[c][y * kW + x];
      }
      s.banding = std::max(s.banding, std::fabs(t - r) / (3 * (kH - 40)));
    }
  }
  return s;
}

std::string ClipFile(const std::string& work, const Clip& clip) {
  const std::string path = work + "/" + clip.name + ".mkv";
  if (!fs::exists(path)) {
    Run("ffmpeg -nostdin -v error -y -f lavfi -i \"" + std::string(clip.source) +
        "\" -c:v ffv1 -pix_fmt bgr0 '" + path + "'");
  }
  return path;
}

// The source at a mode's placement, three half-dot cells a stored column across and
// two dot rows a stored row down.
std::string ReferenceChain(ffmpeg::Fit fit, const Clip& clip) {
  const ffmpeg::FitGeometry g = ffmpeg::ComputeFitGeometry(fit, clip.width, clip.height, 1, 1);
  char chain[256];
  std::snprintf(chain, sizeof chain,
                "fps=18:start_time=0,scale=%d:%d:flags=area,%s=432:160:%d:%d%s", 3 * g.scaled_width,
                2 * g.scaled_height, fit == ffmpeg::Fit::kCrop ? "crop" : "pad", 3 * g.offset_x,
                2 * g.offset_y, fit == ffmpeg::Fit::kCrop ? "" : ":black");
  return chain;
}

// Pictures 1 to kFrames of track 1 in out, shown at their records' own tables.
std::vector<std::vector<uint8_t>> ShownRecords(const std::string& out) {
  std::string error;
  auto source = FileSource::Open(out + "/" + TrackFileName(1), &error);
  const TrackReport report = InspectTrack(*source, InspectOptions{});
  std::vector<std::vector<uint8_t>> shown;
  std::vector<uint8_t> record(trackloom::kFrameRecordSize);
  for (int k = 1; k <= kFrames; ++k) {
    source->ReadAt(report.first_record + static_cast<uint64_t>(k) * trackloom::kFrameRecordSize,
                   record.data(), record.size());
    shown.emplace_back(kRgbPictureSize);
    DecodeRecordPicture(record.data(), shown.back().data());
  }
  return shown;
}

std::vector<uint8_t> Rgb(const uint8_t* bgra) {
  std::vector<uint8_t> rgb(kRgbPictureSize);
  for (size_t i = 0; i < rgb.size() / 3; ++i) {
    for (int c = 0; c < 3; ++c) rgb[3 * i + c] = bgra[4 * i + 2 - c];
  }
  return rgb;
}

double PixelPsnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  double e = 0;
  for (size_t i = 0; i < a.size(); ++i) e += (a[i] - b[i]) * double(a[i] - b[i]);
  e /= static_cast<double>(a.size());
  return e <= 1e-12 ? 99 : 10 * std::log10(255.0 * 255.0 / e);
}

// The level tables in the default mode (letterbox, ordered, subpixel): PSNR of the
// shown picture against the source, seen on the panel (mean of the three
// components) and stored pixel by pixel (against the picture before its reduction),
// for the standard tables as the command writes them, the same tables with the
// dithering aimed at the levels they truly show (measured here only), and adaptive.
void LevelsTable(const std::string& trackloom, const std::string& work) {
  std::printf(
      "\n| clip | seen: standard | standard aimed | adaptive | adaptive - standard | "
      "pixels: standard | standard aimed | adaptive |\n|---|---|---|---|---|---|---|---|\n");
  std::vector<Clip> clips(std::begin(kLevelClips), std::end(kLevelClips));
  clips.insert(clips.end(), std::begin(kClips), std::begin(kClips) + 5);
  const LevelReducer aimed(AimAt(levels::StandardTables()), Dither::kOrdered);
  for (const Clip& clip : clips) {
    const std::string path = ClipFile(work, clip);
    const std::vector<uint8_t> cells =
        Frames(path,
               ffmpeg::BuildFilterChain(ffmpeg::Fit::kLetterbox, clip.width, clip.height, 1, 1, {},
                                        "format=bgra", Sampling::kSubpixel),
               "bgra", work + "/pictures.raw");
    const std::vector<uint8_t> reference =
        Frames(path, ReferenceChain(ffmpeg::Fit::kLetterbox, clip), "rgb24", work + "/cells.raw");
    std::vector<std::vector<uint8_t>> shown[3];
    for (int m = 0; m < 2; ++m) {
      const std::string out = work + "/tracks";
      fs::remove_all(out);
      Run("'" + trackloom + "' encode '" + path + "' -o '" + out +
          "' --no-audio --quiet --levels " + (m == 0 ? "standard" : "adaptive"));
      shown[m == 0 ? 0 : 2] = ShownRecords(out);
    }
    double seen[3] = {}, pixels[3] = {};
    for (int k = 1; k <= kFrames; ++k) {
      std::vector<uint8_t> bgra(size_t{kPictureWidth} * kPictureHeight * 4);
      SampleSubpixels(cells.data() + size_t{kCellWidth} * kCellHeight * 4 * k, kCellWidth * 4,
                      bgra.data(), kPictureWidth * 4);
      const std::vector<uint8_t> source = Rgb(bgra.data());
      aimed.Reduce(bgra.data(), kPictureWidth * 4);
      shown[1].push_back(Rgb(bgra.data()));
      ShowAtLevels(shown[1].back().data(), size_t{kPictureWidth} * kPictureHeight,
                   levels::StandardTables());
      for (int m = 0; m < 3; ++m) {
        const Score s = Compare(PanelDots(shown[m][k - 1].data()),
                                reference.data() + static_cast<size_t>(k) * 432 * 160 * 3, false);
        seen[m] += (s.psnr[0] + s.psnr[1] + s.psnr[2]) / 3 / kFrames;
        pixels[m] += PixelPsnr(shown[m][k - 1], source) / kFrames;
      }
    }
    std::printf("| %s | %.2f | %.2f | %.2f | %+.2f | %.2f | %.2f | %.2f |\n", clip.name, seen[0],
                seen[1], seen[2], seen[2] - seen[0], pixels[0], pixels[1], pixels[2]);
    std::fflush(stdout);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string root = fs::path(argv[0]).parent_path().parent_path().string();
  const std::string trackloom = argc > 1 ? argv[1] : root + "/cli/trackloom";
  const std::string work = argc > 2 ? argv[2] : root + "/bench-pictures";
  fs::create_directories(work);
  // "levels" as a third argument: only the level tables' table.
  if (argc > 3 && std::string(argv[3]) == "levels") {
    LevelsTable(trackloom, work);
    return 0;
  }

  std::printf(
      "| clip | mode | PSNR R | PSNR G | PSNR B | SSIM R | SSIM G | SSIM B | luma PSNR seen | "
      "colour error | banding |\n");
  std::printf("|---|---|---|---|---|---|---|---|---|---|---|\n");
  for (const Clip& clip : kClips) {
    const std::string path = work + "/" + clip.name + ".mkv";
    if (!fs::exists(path)) {
      Run("ffmpeg -nostdin -v error -y -f lavfi -i \"" + std::string(clip.source) +
          "\" -c:v ffv1 -pix_fmt bgr0 '" + path + "'");
    }
    for (const Mode& mode : kModes) {
      const bool cells_first = mode.sampling == Sampling::kSubpixel;
      const std::string area_chain = ffmpeg::BuildFilterChain(mode.fit, clip.width, clip.height, 1,
                                                              1, {}, "format=bgra", mode.sampling);
      const std::string chain =
          Replace(area_chain, "flags=area", std::string("flags=") + mode.scaler);
      std::vector<uint8_t> pictures = Frames(path, chain, "bgra", work + "/pictures.raw");
      const size_t picture_bytes = cells_first ? size_t{kCellWidth} * kCellHeight * 4
                                               : static_cast<size_t>(trackloom::kPictureWidth) *
                                                     trackloom::kPictureHeight * 4;
      if (pictures.size() < picture_bytes * (kFrames + 1)) {
        std::fprintf(stderr, "picture_quality: %s gave too few pictures\n", clip.name);
        return 1;
      }

      // The source at the same placement, three half-dot cells a stored column
      // across and two dot rows a stored row down.
      const ffmpeg::FitGeometry g =
          ffmpeg::ComputeFitGeometry(mode.fit, clip.width, clip.height, 1, 1);
      char reference_chain[256];
      std::snprintf(reference_chain, sizeof reference_chain,
                    "fps=18:start_time=0,scale=%d:%d:flags=area,%s=432:160:%d:%d%s",
                    3 * g.scaled_width, 2 * g.scaled_height,
                    mode.fit == ffmpeg::Fit::kCrop ? "crop" : "pad", 3 * g.offset_x, 2 * g.offset_y,
                    mode.fit == ffmpeg::Fit::kCrop ? "" : ":black");
      const std::vector<uint8_t> cells =
          Frames(path, reference_chain, "rgb24", work + "/cells.raw");

      // The command itself, for the default scaler: its records are these pictures.
      std::vector<std::vector<uint8_t>> records;
      if (std::string(mode.scaler) == "area") {
        const std::string out = work + "/tracks";
        fs::remove_all(out);
        Run("'" + trackloom + "' encode '" + path + "' -o '" + out + "' --no-audio --quiet --fit " +
            (mode.fit == ffmpeg::Fit::kCrop ? "crop" : "letterbox") + " --dither " +
            (mode.dither == Dither::kOrdered ? "ordered" : "none") + " --sampling " +
            (cells_first ? "subpixel" : "pixel"));
        std::string error;
        auto source = FileSource::Open(out + "/" + TrackFileName(1), &error);
        const TrackReport report = InspectTrack(*source, InspectOptions{});
        std::vector<uint8_t> record(trackloom::kFrameRecordSize);
        for (int k = 0; k < kFrames; ++k) {
          // Record 0 is the black start record, and picture 0 is never written: record
          // k holds picture k.
          source->ReadAt(
              report.first_record + static_cast<uint64_t>(k + 1) * trackloom::kFrameRecordSize,
              record.data(), record.size());
          records.emplace_back(kRgbPictureSize);
          DecodeFramePicture(record.data() + trackloom::kRecordHeaderSize, records.back().data());
        }
      }

      Score total;
      for (int k = 0; k < kFrames; ++k) {
        uint8_t* bgra = pictures.data() + picture_bytes * (k + 1);
        std::vector<uint8_t> sampled(size_t{kPictureWidth} * kPictureHeight * 4);
        if (cells_first) {
          SampleSubpixels(bgra, kCellWidth * 4, sampled.data(), kPictureWidth * 4);
          bgra = sampled.data();
        }
        ReduceToPanelLevels(bgra, trackloom::kPictureWidth * 4, mode.dither);
        std::vector<uint8_t> rgb(kRgbPictureSize);
        for (int i = 0; i < trackloom::kPictureWidth * trackloom::kPictureHeight; ++i) {
          rgb[i * 3 + 0] = bgra[i * 4 + 2], rgb[i * 3 + 1] = bgra[i * 4 + 1],
                      rgb[i * 3 + 2] = bgra[i * 4 + 0];
        }
        // Shown as the panel shows the template's tables, as the records decode.
        ShowAtLevels(rgb.data(), size_t{kPictureWidth} * kPictureHeight, levels::StandardTables());
        if (!records.empty() && records[k] != rgb) {
          std::fprintf(
              stderr,
              "picture_quality: %s %s: trackloom's record %d differs from the measured picture\n",
              clip.name, mode.name, k + 1);
          return 1;
        }
        const Score s = Compare(PanelDots(rgb.data()),
                                cells.data() + static_cast<size_t>(k + 1) * 432 * 160 * 3,
                                std::string(clip.name) == "ramp");
        for (int c = 0; c < 3; ++c)
          total.psnr[c] += s.psnr[c] / kFrames, total.ssim[c] += s.ssim[c] / kFrames;
        total.luma_psnr += s.luma_psnr / kFrames, total.fringe += s.fringe / kFrames;
        total.banding = std::max(total.banding, s.banding);
      }
      std::printf("| %s | %s | %.2f | %.2f | %.2f | %.4f | %.4f | %.4f | %.2f | %.2f |", clip.name,
                  mode.name, total.psnr[0], total.psnr[1], total.psnr[2], total.ssim[0],
                  total.ssim[1], total.ssim[2], total.luma_psnr, total.fringe);
      if (std::string(clip.name) == "ramp") {
        std::printf(" %.2f |\n", total.banding);
      } else {
        std::printf(" |\n");
      }
      std::fflush(stdout);
    }
  }
  LevelsTable(trackloom, work);
  return 0;
}
