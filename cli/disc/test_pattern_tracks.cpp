// The test disc's tracks as FFmpeg source graphs: each a title card saying what to
// look for, then the pattern, drawn at 144 x 80 in the panel's own levels (every
// component a multiple of 17) so the encode takes it as made for the player and
// neither scales nor dithers it: what the disc shows is what was drawn.
#include "cli/disc/test_pattern_tracks.h"

#include <string>
#include <vector>

namespace trackloom::cli::disc {
namespace {

constexpr int kCardSeconds = 3;

std::string Text(const std::string& font, const std::string& text, int size, const std::string& x,
                 const std::string& y, const std::string& extra = "") {
  return "drawtext=fontfile=" + font + ":text='" + text + "':fontsize=" + std::to_string(size) +
         ":fontcolor=white:x=" + x + ":y=" + y + extra;
}

// A black picture of the given seconds in the form the patterns are drawn in.
std::string Black(double seconds) {
  return "color=c=black:s=144x80:r=18:d=" + std::to_string(seconds) + ",format=gbrp";
}

std::string Silence(double seconds) {
  return "anullsrc=r=44100:cl=stereo,atrim=duration=" + std::to_string(seconds);
}

std::string Card(const std::string& font, const PatternTrack& t) {
  return Black(kCardSeconds) + "," + Text(font, t.title, 14, "(w-tw)/2", "8") + "," +
         Text(font, t.line1, 9, "(w-tw)/2", "36") + "," + Text(font, t.line2, 9, "(w-tw)/2", "54");
}

// The bars (white, yellow, cyan, green, magenta, red, blue, black), a row of the level
// numbers 0 to F, then 16-step ramps of red, green, blue and grey, one step 9 pixels
// wide under its number.
PatternTrack Colour(const std::string& font) {
  const std::string bar = "floor(X/18)";
  const std::string step = "floor(X/9)*17";
  const std::string band = "floor((Y-26)/13)";
  auto component = [&](const std::string& on_bar, int band_index) {
    return "if(lt(Y,16)," + on_bar + "*255,if(lt(Y,26),0,if(eq(" + band + "," +
           std::to_string(band_index) + ")+eq(" + band + ",3)," + step + ",0)))";
  };
  PatternTrack t{"1 COLOUR", "bars and ramps 0-F", "every step differs", 8, "", ""};
  t.video = Black(t.seconds) + ",geq=r='" + component("lt(mod(" + bar + ",4),2)", 0) + "':g='" +
            component("lt(" + bar + ",4)", 1) + "':b='" + component("eq(mod(" + bar + ",2),0)", 2) +
            "'";
  for (int level = 0; level < 16; ++level) {
    const char digit = "0123456789ABCDEF"[level];
    t.video += "," + Text(font, std::string(1, digit), 8, std::to_string(level * 9 + 2), "16");
  }
  t.sound = Silence(t.seconds);
  return t;
}

// A frame counter 0-17 and a bar one step further each frame: a dropped or repeated
// frame shows as a skipped or repeated number and a jump or stop of the bar.
PatternTrack Motion(const std::string& font) {
  PatternTrack t{"2 MOTION", "counter 0-17 and a bar", "one step every frame", 12, "", ""};
  const std::string bar = "if(between(X,mod(N,18)*8,mod(N,18)*8+7)*gte(Y,60),255,0)";
  t.video = Black(t.seconds) + ",geq=r='" + bar + "':g='" + bar + "':b='" + bar + "'," +
            Text(font, "%{eif\\:mod(n,18)\\:d}", 40, "(w-tw)/2", "4");
  t.sound = Silence(t.seconds);
  return t;
}

// A white flash on the first frame of every second with a click at the same moment.
PatternTrack Sync(const std::string&) {
  PatternTrack t{"3 SYNC", "flash and click", "must come together", 10, "", ""};
  const std::string flash = "if(eq(mod(N,18),0),255,0)";
  t.video = Black(t.seconds) + ",geq=r='" + flash + "':g='" + flash + "':b='" + flash + "'";
  const std::string click = "if(lt(mod(t,1),0.03),0.8*sin(2*PI*1000*t),0)";
  t.sound = "aevalsrc=exprs='" + click + "|" + click + "':s=44100:d=" + std::to_string(t.seconds);
  return t;
}

// Left only, right only, both, a 1 kHz tone, then a sweep from 100 Hz to 8 kHz, 3 s
// each, with the part named on the picture.
PatternTrack Sound(const std::string& font) {
  PatternTrack t{"4 SOUND", "left - right - both", "1 kHz tone - sweep", 15, "", ""};
  const char* names[] = {"LEFT ONLY", "RIGHT ONLY", "BOTH", "1 kHz TONE", "SWEEP"};
  t.video = Black(t.seconds);
  for (int part = 0; part < 5; ++part) {
    t.video += "," + Text(font, names[part], 16, "(w-tw)/2", "(h-th)/2",
                          ":enable='gte(t," + std::to_string(part * 3) + ")*lt(t," +
                              std::to_string(part * 3 + 3) + ")'");
  }
  const std::string tone = "0.5*sin(2*PI*440*t)";
  const std::string sweep = "0.5*sin(2*PI*(100*(t-12)+(8000-100)/6*(t-12)*(t-12)))";
  const std::string left = "if(lt(t,3)+between(t,6,9)," + tone +
                           ",if(between(t,9,12),0.5*sin(2*PI*1000*t),if(gt(t,12)," + sweep +
                           ",0)))";
  const std::string right = "if(between(t,3,9)," + tone +
                            ",if(between(t,9,12),0.5*sin(2*PI*1000*t),if(gt(t,12)," + sweep +
                            ",0)))";
  t.sound = "aevalsrc=exprs='" + left + "|" + right + "':s=44100:d=" + std::to_string(t.seconds);
  return t;
}

// A circle that is round on a 4:3 screen (27 stored pixels across for every 20 down),
// a square grid, and vertical lines 1, 2 and 3 pixels wide.
PatternTrack Shape(const std::string&) {
  PatternTrack t{"5 SHAPE", "a round circle and", "square grid - fine lines", 8, "", ""};
  const std::string ring =
      "between(hypot((X-72)*20/27,Y-40),29,31)";  // the pixel is 20:27 wide:tall
  const std::string grid = "(eq(mod(floor(X*20/27),10),0)+eq(mod(Y,10),0))";
  const std::string lines = "lt(Y,8)*((between(X,4,4)+between(X,7,8)+between(X,11,13)))";
  const std::string white = "if(" + ring + "+" + lines + ",255,if(" + grid + ",102,0))";
  t.video = Black(t.seconds) + ",geq=r='" + white + "':g='" + white + "':b='" + white + "'";
  t.sound = Silence(t.seconds);
  return t;
}

// A track of exactly `seconds`, the card itself with the time running: where the player
// skips to and where it stops.
PatternTrack Length(const std::string& font, double seconds, const std::string& name) {
  PatternTrack t{"6 LENGTH " + name, "", "", seconds, "", ""};
  t.card = false;
  t.video = Black(seconds) + "," + Text(font, t.title, 14, "(w-tw)/2", "8") + "," +
            Text(font, "%{pts\\:hms}", 12, "(w-tw)/2", "40");
  t.sound = "sine=frequency=330:sample_rate=44100:duration=" + std::to_string(seconds) +
            ",volume=0.2,aformat=channel_layouts=stereo";
  return t;
}

// The stored values of the tables track's two words, drawn on 0. Its tables light the
// first at the panel's top level and put the second out, every other value at its
// standard level: a player that applies them shows the first word white and nothing
// of the second; one that shows the standard ramp lights the second nearly white and
// leaves the first at level 2 of 31, hardly off the black.
constexpr int kWorksValue = 1;
constexpr int kIgnoredValue = 14;

levels::Tables OwnTables() {
  levels::Tables t = levels::StandardTables();
  for (int c = 0; c < levels::kComponents; ++c) {
    t.level[c][kWorksValue] = levels::kPanelLevels - 1;
    t.level[c][kIgnoredValue] = 0;
  }
  return t;
}

// A stored value as drawn: 17 times it.
std::string Drawn(int value) { return std::to_string(value * 17); }

// "TABLES WORK" above "TABLES IGNORED", lettered white and then every pixel of a word
// set to its word's value and every other to 0: an antialiased edge between would land
// on values the tables show at their standard levels, an outline of the wrong word.
PatternTrack Tables(const std::string& font) {
  PatternTrack t{"7 TABLES", "applied - TABLES WORK", "ignored - TABLES IGNORED", 8, "", ""};
  t.tables = OwnTables();
  auto word = [](const char* component) {
    return std::string(component) + "='if(gt(" + component + "(X,Y),96),if(lt(Y,40)," +
           Drawn(kWorksValue) + "," + Drawn(kIgnoredValue) + "),0)'";
  };
  t.video = Black(t.seconds) + "," + Text(font, "TABLES WORK", 15, "(w-tw)/2", "12") + "," +
            Text(font, "TABLES IGNORED", 15, "(w-tw)/2", "50") + ",geq=" + word("r") + ":" +
            word("g") + ":" + word("b");
  t.sound = Silence(t.seconds);
  return t;
}

// Keeps a card's antialiased lettering off the two values the tables change (an edge
// that would be stored as the first word's value goes to 0, one at the second's to 15),
// so that the card reads the same whether a player applies the tables or not.
std::string OffTheChangedValues() {
  auto near = [](int value) {
    return "between(val," + std::to_string(value * 17 - 8) + "," + std::to_string(value * 17 + 8) +
           ")";
  };
  const std::string v = "if(" + near(kWorksValue) + ",0,if(" + near(kIgnoredValue) + ",255,val))";
  return "lutrgb=r='" + v + "':g='" + v + "':b='" + v + "'";
}

}  // namespace

std::vector<PatternTrack> TestPatternTracks(const std::string& font) {
  std::vector<PatternTrack> tracks = {Colour(font),
                                      Motion(font),
                                      Sync(font),
                                      Sound(font),
                                      Shape(font),
                                      Length(font, 1, "1 s"),
                                      Length(font, 10, "10 s"),
                                      Length(font, 120, "2 min"),
                                      Tables(font)};
  for (PatternTrack& t : tracks) {
    if (!t.card) continue;
    const std::string card = Card(font, t) + (t.tables ? "," + OffTheChangedValues() : "");
    t.video = card + ",setsar=1[card];" + t.video + ",setsar=1[pattern];" +
              "[card][pattern]concat=n=2:v=1:a=0,format=rgb24";
    t.sound = Silence(kCardSeconds) + "[quiet];" + t.sound +
              ",aformat=sample_rates=44100:channel_layouts=stereo[sound];" +
              "[quiet][sound]concat=n=2:v=0:a=1";
    t.seconds += kCardSeconds;
  }
  return tracks;
}

}  // namespace trackloom::cli::disc
