// The configuration dialog for builds without the Windows dialog manager: the same
// three settings, edited on the controlling terminal with libedit.
//
// It follows the dialog: the current values are shown ready to edit, paths are
// completed with Tab, break frames are typed one per line as in the dialog's
// multi-line box (digits only while typing), and nothing reaches the settings
// until the user confirms. Esc, Ctrl-C and end of input cancel at any point.
#include <dirent.h>
#include <fcntl.h>
#include <histedit.h>
#include <locale.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "core/instance_state.h"
#include "core/track_list.h"
#include "host/filter_configure.h"
#include "trackloom_version.h"

namespace trackloom {
namespace {

constexpr size_t kPathMaxChars = kPathCapacity - 1;                 // 259
constexpr size_t kBreakFramesTextMax = kTrackListTextCapacity - 1;  // 1023, as the box
constexpr char kLineBreak[] = "\r\n";  // what the dialog's box holds between lines

// A lone Esc is told from the start of an arrow-key sequence by the silence after it.
constexpr int kEscapeWaitMs = 100;

constexpr unsigned char kEsc = 0x1b;
constexpr unsigned char kCtrlC = 0x03;
constexpr unsigned char kCtrlD = 0x04;
constexpr unsigned char kTab = 0x09;
// Pushed into libedit's input before each line to put the current value into it;
// the same byte typed by the user is dropped.
constexpr unsigned char kPrefillKey = 0x1e;

volatile sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) { g_interrupted = 1; }

enum class EscapeState { kNone, kAfterEsc, kInCsi, kAfterSs3 };

struct Session {
  int fd = -1;
  FILE* terminal = nullptr;
  EditLine* el = nullptr;
  std::string prompt;
  std::string prefill;
  bool digits_only = false;  // the break-frame lines: no path completion
  bool cancelled = false;
  EscapeState escape = EscapeState::kNone;
  std::mbstate_t mb_state{};
};

Session* SessionOf(EditLine* el) {
  void* data = nullptr;
  el_get(el, EL_CLIENTDATA, &data);
  return static_cast<Session*>(data);
}

char* PromptOf(EditLine* el) { return SessionOf(el)->prompt.data(); }

void Print(Session& s, const char* text) {
  std::fputs(text, s.terminal);
  std::fflush(s.terminal);
}

void Beep(Session& s) { Print(s, "\a"); }

bool InputWaiting(int fd, int timeout_ms) {
  pollfd p{fd, POLLIN, 0};
  for (;;) {
    int r = poll(&p, 1, timeout_ms);
    if (r < 0 && errno == EINTR) {
      if (g_interrupted) return false;
      continue;
    }
    return r > 0;
  }
}

// A byte that continues an escape sequence (arrow keys, Home, Delete...) passes
// through untouched. True when byte was one.
bool ContinuesEscape(Session& s, unsigned char byte) {
  switch (s.escape) {
    case EscapeState::kAfterEsc:
      s.escape = byte == '['   ? EscapeState::kInCsi
                 : byte == 'O' ? EscapeState::kAfterSs3
                               : EscapeState::kNone;
      return true;
    case EscapeState::kInCsi:
      if (byte >= 0x40 && byte <= 0x7e) s.escape = EscapeState::kNone;
      return true;
    case EscapeState::kAfterSs3:
      s.escape = EscapeState::kNone;
      return true;
    case EscapeState::kNone:
      break;
  }
  return false;
}

enum class KeyOutcome {
  kCancel,     // the dialog is cancelled
  kIgnore,     // the byte is dropped
  kEscape,     // an escape sequence begins: the byte goes to libedit as it is
  kCharacter,  // the byte is (part of) a character for the line
};

// What a byte outside an escape sequence does.
KeyOutcome Judge(EditLine* el, Session& s, unsigned char byte) {
  if (byte == kEsc) {
    if (!InputWaiting(s.fd, kEscapeWaitMs)) return KeyOutcome::kCancel;
    s.escape = EscapeState::kAfterEsc;
    return KeyOutcome::kEscape;
  }
  if (byte == kCtrlC) return KeyOutcome::kCancel;  // a byte when the terminal does not signal it
  if (byte == kCtrlD) {
    const LineInfo* line = el_line(el);
    if (line->lastchar == line->buffer) return KeyOutcome::kCancel;
  }
  if (byte == kPrefillKey) return KeyOutcome::kIgnore;
  // A break-frame line has no paths to complete; what else it holds is checked
  // when the line is accepted, so a pasted "30, 60" is refused whole rather than
  // kept as 3060.
  if (s.digits_only && byte == kTab) {
    Beep(s);
    return KeyOutcome::kIgnore;
  }
  return KeyOutcome::kCharacter;
}

// Gathers the bytes of a character in the terminal's encoding. False while more
// bytes are needed.
bool GatherCharacter(Session& s, unsigned char byte, wchar_t* out) {
  if (byte < 0x80) {
    s.mb_state = std::mbstate_t{};
    *out = byte;
    return true;
  }
  char c = static_cast<char>(byte);
  wchar_t wc = 0;
  size_t r = std::mbrtowc(&wc, &c, 1, &s.mb_state);
  if (r == static_cast<size_t>(-2)) return false;
  if (r == static_cast<size_t>(-1)) {
    s.mb_state = std::mbstate_t{};
    wc = byte;
  }
  *out = wc;
  return true;
}

// libedit's character source. Everything the user types passes here, so this is
// where cancelling keys are recognised (whatever the key bindings), and where the
// break-frame lines refuse what is not a digit. Returning 0 ends the line as end
// of input, and every end of input counts as a cancel.
int ReadKey(EditLine* el, wchar_t* out) {
  Session& s = *SessionOf(el);
  for (;;) {
    if (g_interrupted) {
      s.cancelled = true;
      return 0;
    }
    unsigned char byte = 0;
    ssize_t n = read(s.fd, &byte, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      s.cancelled = true;
      return 0;
    }
    if (ContinuesEscape(s, byte)) {
      *out = byte;
      return 1;
    }
    switch (Judge(el, s, byte)) {
      case KeyOutcome::kCancel:
        s.cancelled = true;
        return 0;
      case KeyOutcome::kIgnore:
        continue;
      case KeyOutcome::kEscape:
        *out = byte;
        return 1;
      case KeyOutcome::kCharacter:
        break;
    }
    if (GatherCharacter(s, byte, out)) return 1;
  }
}

unsigned char InsertPrefill(EditLine* el, int) {
  Session& s = *SessionOf(el);
  if (!s.prefill.empty()) el_insertstr(el, s.prefill.c_str());
  return CC_REFRESH;
}

bool IsDirectory(const std::string& path) {
  struct stat st = {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

struct PathCompletion {
  std::string text;                  // the completed text before the cursor
  std::vector<std::string> choices;  // shown when the completion is ambiguous
};

// Completes the file-system path typed so far: the longest name shared by every
// entry that matches, a "/" after a directory, "~/" replaced by the home directory.
PathCompletion CompletePath(std::string typed) {
  PathCompletion result;
  if (typed.rfind("~/", 0) == 0) {
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') typed = std::string(home) + typed.substr(1);
  }
  result.text = typed;
  size_t slash = typed.rfind('/');
  std::string folder = slash == std::string::npos ? std::string() : typed.substr(0, slash + 1);
  std::string stem = slash == std::string::npos ? typed : typed.substr(slash + 1);

  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return result;
  std::vector<std::string> names;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (name[0] == '.' && (stem.empty() || stem[0] != '.')) continue;
    if (name.compare(0, stem.size(), stem) != 0) continue;
    names.push_back(name);
  }
  closedir(dir);
  if (names.empty()) return result;
  std::sort(names.begin(), names.end());

  std::string shared = names.front();
  for (const std::string& name : names) {
    size_t i = 0;
    while (i < shared.size() && i < name.size() && shared[i] == name[i]) ++i;
    shared.resize(i);
  }
  result.text = folder + shared;
  if (names.size() == 1) {
    if (IsDirectory(result.text)) result.text += '/';
  } else {
    for (const std::string& name : names)
      result.choices.push_back(IsDirectory(folder + name) ? name + '/' : name);
  }
  return result;
}

unsigned char CompleteKey(EditLine* el, int) {
  Session& s = *SessionOf(el);
  const LineInfo* line = el_line(el);
  std::string typed(line->buffer, static_cast<size_t>(line->cursor - line->buffer));
  PathCompletion completion = CompletePath(typed);
  if (completion.text != typed) {
    el_deletestr(el, static_cast<int>(line->cursor - line->buffer));
    el_insertstr(el, completion.text.c_str());
    return CC_REFRESH;
  }
  if (completion.choices.empty()) return CC_REFRESH_BEEP;
  Print(s, "\n");
  for (const std::string& choice : completion.choices) {
    Print(s, "  ");
    Print(s, choice.c_str());
    Print(s, "\n");
  }
  return CC_REDISPLAY;
}

// True when the line editor can hold text: every byte sequence is a character of
// the terminal's encoding.
bool Editable(const std::string& text) {
  return std::mbstowcs(nullptr, text.c_str(), 0) != static_cast<size_t>(-1);
}

// The text with every byte outside printable ASCII written as \xNN.
std::string Escaped(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7f) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

// One line of input, starting out as `initial`. Nothing when the user cancelled.
std::optional<std::string> EditLineOf(Session& s, const std::string& prompt,
                                      const std::string& initial) {
  s.prompt = prompt;
  s.escape = EscapeState::kNone;
  // A value in another encoding (a path saved on another system, say) cannot be put
  // into the line without changing its bytes; it is shown instead, and an empty
  // line keeps it exactly as it is.
  bool keep_on_empty = !Editable(initial);
  if (keep_on_empty) {
    Print(s, ("  now \"" + Escaped(initial) +
              "\", which this terminal cannot edit: Enter keeps it, typing replaces it.\n")
                 .c_str());
    s.prefill.clear();
  } else {
    s.prefill = initial;
    const char prefill_key[] = {static_cast<char>(kPrefillKey), '\0'};
    el_push(s.el, prefill_key);
  }
  int count = 0;
  const char* text = el_gets(s.el, &count);
  if (text == nullptr || s.cancelled) {
    s.cancelled = true;
    return std::nullopt;
  }
  std::string line(text, static_cast<size_t>(count));
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  if (keep_on_empty && line.empty()) return initial;
  return line;
}

std::optional<std::string> EditPath(Session& s, const char* prompt, const char* current) {
  std::string text = current;
  for (;;) {
    std::optional<std::string> line = EditLineOf(s, prompt, text);
    if (!line) return std::nullopt;
    if (line->size() <= kPathMaxChars) return line;
    char message[160];
    std::snprintf(message, sizeof message,
                  "That path has %zu characters; at most %zu fit. Please shorten it.\n",
                  line->size(), kPathMaxChars);
    Print(s, message);
    text = *line;
  }
}

std::string Trimmed(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return std::string();
  size_t end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

// The break frames, one per line, joined as the dialog's box would hold them.
// Digits only, of a value the list's 32-bit entries hold as a frame (leading zeros
// are harmless).
bool IsStorableFrame(const std::string& line) {
  size_t first = line.find_first_not_of('0');
  if (first == std::string::npos) return false;  // 0 starts no track
  if (line.find_first_not_of("0123456789") != std::string::npos) return false;
  const std::string digits = line.substr(first);
  return digits.size() < 10 || (digits.size() == 10 && digits <= "2147483647");
}

std::optional<std::string> EditBreakFrames(Session& s, const InstanceState& state) {
  char formatted[kTrackListTextCapacity];
  FormatTrackList(state, formatted, "\n");
  std::vector<std::string> current;
  for (const char* p = formatted; *p != '\0';) {
    const char* end = std::strchr(p, '\n');
    if (end == nullptr) end = p + std::strlen(p);
    current.emplace_back(p, end);
    p = *end == '\0' ? end : end + 1;
  }

  Print(s, "Break tracks at frames: one frame per line. Enter on an empty line ends the list");
  Print(s, current.empty() ? ".\n" : "; clear a line to remove that frame.\n");

  s.digits_only = true;
  std::string text;
  size_t lines = 0;
  for (size_t i = 0;; ++i) {
    if (lines == static_cast<size_t>(kMaxBreakFrames)) {
      Print(s, "That makes 60 break frames, as many as a list holds.\n");
      break;
    }
    char prompt[16];
    std::snprintf(prompt, sizeof prompt, "%4zu: ", lines + 1);
    std::string initial = i < current.size() ? current[i] : std::string();
    std::optional<std::string> line;
    for (;;) {
      line = EditLineOf(s, prompt, initial);
      if (!line) {
        s.digits_only = false;
        return std::nullopt;
      }
      *line = Trimmed(*line);
      if (!line->empty() && !IsStorableFrame(*line)) {
        Print(s, "A break frame is one whole number from 1 to 2147483647; '");
        Print(s, line->c_str());
        Print(s, "' is not.\n");
        initial = *line;
        continue;
      }
      size_t length = text.size() + (text.empty() ? 0 : 2) + line->size();
      if (line->empty() || length <= kBreakFramesTextMax) break;
      Print(s, "The list would pass 1023 characters; that line does not fit.\n");
      initial = *line;
    }
    if (line->empty()) {
      if (i < current.size()) continue;  // a cleared line drops that frame
      break;
    }
    if (!text.empty()) text += kLineBreak;
    text += *line;
    ++lines;
  }
  s.digits_only = false;
  return text;
}

// OK is the default, as in the dialog: Enter confirms.
std::optional<bool> AskConfirm(Session& s) {
  for (;;) {
    std::optional<std::string> answer =
        EditLineOf(s, "OK or Cancel? [Enter = OK, Esc = Cancel] ", std::string());
    if (!answer) return std::nullopt;
    std::string a = Trimmed(*answer);
    for (char& c : a) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (a.empty() || a == "ok" || a == "o" || a == "y" || a == "yes") return true;
    if (a == "cancel" || a == "c" || a == "n" || a == "no") return false;
    Print(s, "Please answer OK or Cancel.\n");
  }
}

int RunSession(Session& s, InstanceState& state) {
  Print(s, TRACKLOOM_DIALOG_CAPTION
        "\n"
        "Enter accepts a line, Tab completes a path; Esc, Ctrl-C or Ctrl-D cancels,\n"
        "leaving the settings as they were.\n");
  std::optional<std::string> audio = EditPath(s, "Audio file (input): ", state.audio_path);
  if (!audio) return 1;
  std::optional<std::string> directory = EditPath(s, "Output directory: ", state.output_directory);
  if (!directory) return 1;
  Print(s,
        "Files will be created as 'VDN Track 01.wav', 'VDN Track 02.wav' etc.\n"
        "EXISTING FILES WILL BE OVERWRITTEN\n");
  std::optional<std::string> frames = EditBreakFrames(s, state);
  if (!frames) return 1;
  std::optional<bool> ok = AskConfirm(s);
  if (!ok || !*ok) return 1;

  std::memcpy(state.audio_path, audio->c_str(), audio->size() + 1);
  std::memcpy(state.output_directory, directory->c_str(), directory->size() + 1);
  ParseTrackList(state, frames->c_str());
  return 0;
}

int EditWithLineEditor(int fd, InstanceState& state);

int EditSettingsOnTerminal(InstanceState& state) {
  int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  if (!isatty(fd)) {
    close(fd);
    return -1;
  }
  // The line editor works in characters of the terminal's encoding. A program that
  // never chose a locale runs in "C", where only ASCII is a character; the user's
  // own locale (or UTF-8) is used for this thread while editing, so paths outside
  // ASCII keep their bytes.
  locale_t editing_locale = static_cast<locale_t>(0);
  locale_t previous_locale = static_cast<locale_t>(0);
  if (MB_CUR_MAX == 1) {
    editing_locale = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
    if (editing_locale != static_cast<locale_t>(0)) {
      locale_t was = uselocale(editing_locale);
      bool multibyte = MB_CUR_MAX > 1;
      uselocale(was);
      if (!multibyte) {
        freelocale(editing_locale);
        editing_locale = static_cast<locale_t>(0);
      }
    }
    if (editing_locale == static_cast<locale_t>(0))
      editing_locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (editing_locale != static_cast<locale_t>(0)) previous_locale = uselocale(editing_locale);
  }
  int result = EditWithLineEditor(fd, state);
  if (editing_locale != static_cast<locale_t>(0)) {
    uselocale(previous_locale);
    freelocale(editing_locale);
  }
  return result;
}

int EditWithLineEditor(int fd, InstanceState& state) {
  Session s;
  s.fd = fd;
  s.terminal = fdopen(fd, "r+");
  if (s.terminal == nullptr) {
    close(fd);
    return -1;
  }
  s.el = el_init("trackloom", s.terminal, s.terminal, s.terminal);
  if (s.el == nullptr) {
    std::fclose(s.terminal);
    return -1;
  }
  el_set(s.el, EL_CLIENTDATA, &s);
  el_set(s.el, EL_EDITOR, "emacs");
  // Not libedit's own signal handling: it sends a caught Ctrl-C on to the whole
  // process group, which would end the script that ran this command.
  el_set(s.el, EL_SIGNAL, 0);
  el_set(s.el, EL_PROMPT, PromptOf);
  el_set(s.el, EL_GETCFN, ReadKey);
  el_set(s.el, EL_ADDFN, "trackloom-prefill", "Put the current value into the line", InsertPrefill);
  el_set(s.el, EL_ADDFN, "trackloom-complete", "Complete a file-system path", CompleteKey);
  const char prefill_key[] = {static_cast<char>(kPrefillKey), '\0'};
  el_set(s.el, EL_BIND, prefill_key, "trackloom-prefill", nullptr);
  el_set(s.el, EL_BIND, "\t", "trackloom-complete", nullptr);

  // Ctrl-C cancels the dialog rather than ending the program; the handler only
  // marks it, and the read it interrupts reports the cancel.
  g_interrupted = 0;
  struct sigaction cancel = {};
  struct sigaction previous = {};
  cancel.sa_handler = OnInterrupt;
  sigemptyset(&cancel.sa_mask);
  sigaction(SIGINT, &cancel, &previous);

  int result = RunSession(s, state);
  Print(s, result == 0 ? "Settings changed.\n" : "\nCancelled; the settings are unchanged.\n");

  el_end(s.el);
  sigaction(SIGINT, &previous, nullptr);
  g_interrupted = 0;
  std::fclose(s.terminal);
  return result;
}

}  // namespace

// The editor's parent window has no meaning on a terminal.
int TRACKLOOM_CDECL FilterConfigure(HostContext* context, HostServices*, HostWindow) {
  if (context == nullptr || context->instance == nullptr) return -1;
  // Nothing may cross the C boundary: the line editor's strings can run out of
  // memory, and the editor can only be told that no dialog was shown.
  try {
    return EditSettingsOnTerminal(*context->instance);
  } catch (...) {
    return -1;
  }
}

}  // namespace trackloom
