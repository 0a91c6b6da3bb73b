// The real configuration dialog of the built trackloom.vdf, run under wine on a
// virtual display. The module is loaded and registered through the replacement
// editor; the dialog is opened through the record's configure callback on this
// thread and driven from a second one with window messages, as a person would
// drive it: find it by its caption, type into the boxes, press the buttons.
#include <windows.h>
// windows.h first: the shell header needs its types.
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/instance_state.h"
#include "core/track_list.h"
#include "resources/resource_ids.h"
#include "runner/editor.h"
#include "tests/support/temp_dir.h"

namespace trackloom {
namespace {

constexpr char kCaption[] = "Filter: Trackloom 1.0";
constexpr char kDialogClass[] = "#32770";
constexpr DWORD kWaitMs = 15000;

// ---- the module, loaded once --------------------------------------------------------

std::string WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

struct Module {
  runner::Editor editor;
  std::unique_ptr<runner::LoadedModule> loaded;
};

Module& TheModule() {
  static Module* module = [] {
    auto* m = new Module;
    m->loaded = runner::LoadedModule::Load(m->editor, WindowsPath(TRACKLOOM_MODULE_FILE));
    return m;
  }();
  return *module;
}

HMODULE ModuleHandle() {
  return static_cast<HMODULE>(TheModule().loaded->module_record().module_handle);
}

// ---- driving from a second thread ----------------------------------------------------

// Polls until ready() holds or the time is up.
bool WaitFor(const std::function<bool()>& ready, DWORD ms = kWaitMs) {
  for (DWORD waited = 0; waited < ms; waited += 20) {
    if (ready()) return true;
    Sleep(20);
  }
  return ready();
}

std::string ItemText(HWND dialog, int id) {
  std::vector<char> buffer(4096);
  GetDlgItemTextA(dialog, id, buffer.data(), static_cast<int>(buffer.size()));
  return buffer.data();
}

// A click as the button itself reports it; posted, so that a button which opens a
// modal window does not hold up this thread.
void Press(HWND window, int id) {
  PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
}

void PostKey(HWND window, UINT vk) {
  PostMessageA(window, WM_KEYDOWN, vk, 1);
  PostMessageA(window, WM_KEYUP, vk, static_cast<LPARAM>(0xC0000001u));
}

void PostChars(HWND window, const char* text) {
  for (const char* p = text; *p != '\0'; ++p)
    PostMessageA(window, WM_CHAR, static_cast<unsigned char>(*p), 1);
}

HWND FocusOf(DWORD thread) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  return GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
}

struct FindByStatic {
  const char* text;
  HWND found;
};

BOOL CALLBACK CheckForStatic(HWND window, LPARAM data) {
  auto* find = reinterpret_cast<FindByStatic*>(data);
  if (FindWindowExA(window, nullptr, "Static", find->text) != nullptr) {
    find->found = window;
    return FALSE;
  }
  return TRUE;
}

// The folder browser's own caption is the system's; the title given to it is a
// line of text inside.
HWND FindWindowWithText(DWORD thread, const char* text) {
  FindByStatic find{text, nullptr};
  EnumThreadWindows(thread, CheckForStatic, reinterpret_cast<LPARAM>(&find));
  return find.found;
}

struct Session {
  DWORD ui_thread = 0;
  const std::function<void(HWND, Session&)>* drive = nullptr;
  bool dialog_found = false;
  bool forced_closed = false;
};

DWORD WINAPI DriverMain(void* data) {
  Session& s = *static_cast<Session*>(data);
  HWND dialog = nullptr;
  s.dialog_found = WaitFor([&] {
    dialog = FindWindowA(kDialogClass, kCaption);
    return dialog != nullptr && IsWindowVisible(dialog);
  });
  if (!s.dialog_found) return 0;
  (*s.drive)(dialog, s);
  // A script that left the dialog open would leave the test waiting for ever.
  if (!WaitFor([&] { return !IsWindow(dialog); }, 5000)) {
    s.forced_closed = true;
    EndDialog(dialog, 99);
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  }
  return 0;
}

// Opens the dialog through the configure callback and returns its result once
// `drive` has closed it.
int RunDialog(runner::FilterInstance& filter, const std::function<void(HWND, Session&)>& drive) {
  Session s;
  s.ui_thread = GetCurrentThreadId();
  s.drive = &drive;
  HANDLE driver = CreateThread(nullptr, 0, DriverMain, &s, 0, nullptr);
  int result = filter.filter().configure(&filter.context(), TheModule().editor.services(), nullptr);
  WaitForSingleObject(driver, INFINITE);
  CloseHandle(driver);
  EXPECT_TRUE(s.dialog_found) << "no window captioned \"" << kCaption << "\" appeared";
  EXPECT_FALSE(s.forced_closed) << "the dialog stayed open";
  return result;
}

InstanceState& State(runner::FilterInstance& filter) {
  return *static_cast<InstanceState*>(filter.data());
}

std::vector<uint8_t> Bytes(const InstanceState& state) {
  const auto* p = reinterpret_cast<const uint8_t*>(&state);
  return std::vector<uint8_t>(p, p + sizeof state);
}

std::string Frames(const InstanceState& state) {
  char text[kTrackListTextCapacity];
  FormatTrackList(state, text, ";");
  return text;
}

void Set(InstanceState& state, const char* audio, const char* directory, const char* frames) {
  std::strcpy(state.audio_path, audio);
  std::strcpy(state.output_directory, directory);
  ParseTrackList(state, frames);
}

// ---- screenshot ------------------------------------------------------------------

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0) {
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void PutBe32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void PutChunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& body) {
  PutBe32(png, static_cast<uint32_t>(body.size()));
  std::vector<uint8_t> typed(type, type + 4);
  typed.insert(typed.end(), body.begin(), body.end());
  png.insert(png.end(), typed.begin(), typed.end());
  PutBe32(png, Crc32(typed.data(), typed.size()));
}

// An RGB PNG with the picture stored uncompressed (deflate's stored blocks), which
// every viewer reads and which needs no compression library.
std::vector<uint8_t> EncodePng(int width, int height, const std::vector<uint32_t>& top_down) {
  std::vector<uint8_t> raw;
  for (int y = 0; y < height; ++y) {
    raw.push_back(0);  // filter type: none
    for (int x = 0; x < width; ++x) {
      uint32_t p = top_down[static_cast<size_t>(y) * width + x];
      raw.push_back(static_cast<uint8_t>(p >> 16));
      raw.push_back(static_cast<uint8_t>(p >> 8));
      raw.push_back(static_cast<uint8_t>(p));
    }
  }
  std::vector<uint8_t> z = {0x78, 0x01};  // zlib header: deflate, 32 KiB window
  uint32_t a = 1, b = 0;                  // Adler-32 of the raw bytes
  for (uint8_t v : raw) {
    a = (a + v) % 65521;
    b = (b + a) % 65521;
  }
  for (size_t at = 0; at < raw.size() || raw.empty();) {
    size_t n = std::min<size_t>(65535, raw.size() - at);
    bool last = at + n == raw.size();
    z.push_back(last ? 1 : 0);
    z.push_back(static_cast<uint8_t>(n));
    z.push_back(static_cast<uint8_t>(n >> 8));
    z.push_back(static_cast<uint8_t>(~n));
    z.push_back(static_cast<uint8_t>(~n >> 8));
    z.insert(z.end(), raw.begin() + static_cast<ptrdiff_t>(at),
             raw.begin() + static_cast<ptrdiff_t>(at + n));
    at += n;
    if (last) break;
  }
  PutBe32(z, (b << 16) | a);

  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  std::vector<uint8_t> header;
  PutBe32(header, static_cast<uint32_t>(width));
  PutBe32(header, static_cast<uint32_t>(height));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, no filter, no interlace
  PutChunk(png, "IHDR", header);
  PutChunk(png, "IDAT", z);
  PutChunk(png, "IEND", {});
  return png;
}

struct Picture {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;  // top row first, 0x00RRGGBB
};

// The window as it is drawn, frame and caption included.
Picture Capture(HWND window) {
  Picture picture;
  RECT rect{};
  GetWindowRect(window, &rect);
  picture.width = rect.right - rect.left;
  picture.height = rect.bottom - rect.top;
  if (picture.width <= 0 || picture.height <= 0) return picture;

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = picture.width;
  info.bmiHeader.biHeight = -picture.height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  // Copied from the screen, as the user sees it: nothing covers it on the test's
  // own display.
  BitBlt(memory, 0, 0, picture.width, picture.height, screen, rect.left, rect.top, SRCCOPY);
  GdiFlush();
  const auto* p = static_cast<const uint32_t*>(bits);
  picture.pixels.assign(p, p + static_cast<size_t>(picture.width) * picture.height);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  for (uint32_t& v : picture.pixels) v &= 0xFFFFFF;
  return picture;
}

size_t DistinctColours(const Picture& picture) {
  std::vector<uint32_t> seen;
  for (uint32_t v : picture.pixels) {
    if (std::find(seen.begin(), seen.end(), v) == seen.end()) seen.push_back(v);
    if (seen.size() > 16) break;
  }
  return seen.size();
}

// ---- the template, read back from the module file ----------------------------------

struct TemplateReader {
  const uint8_t* p;
  uint16_t Word() {
    uint16_t v;
    std::memcpy(&v, p, 2);
    p += 2;
    return v;
  }
  uint32_t Dword() {
    uint32_t v;
    std::memcpy(&v, p, 4);
    p += 4;
    return v;
  }
  int16_t Short() { return static_cast<int16_t>(Word()); }
  // A string of UTF-16 units, or 0xFFFF and an ordinal (given back as "#n").
  std::string NameOrOrdinal() {
    uint16_t first = Word();
    if (first == 0xFFFF) return "#" + std::to_string(Word());
    std::string text;
    for (uint16_t c = first; c != 0; c = Word()) text += static_cast<char>(c);
    return text;
  }
  void AlignDword(const uint8_t* base) {
    while ((p - base) % 4 != 0) ++p;
  }
};

TEST(Win32Dialog, TemplateIsTheDesignedOne) {
  HRSRC found = FindResourceA(ModuleHandle(), MAKEINTRESOURCEA(IDD_TRACKLOOM_CONFIG),
                              MAKEINTRESOURCEA(5) /* RT_DIALOG */);
  ASSERT_NE(found, nullptr);
  const auto* base = static_cast<const uint8_t*>(LockResource(LoadResource(ModuleHandle(), found)));
  ASSERT_NE(base, nullptr);
  TemplateReader r{base};

  EXPECT_EQ(r.Dword(), static_cast<uint32_t>(DS_MODALFRAME | DS_CENTER | DS_SETFONT | WS_POPUP |
                                             WS_CAPTION | WS_SYSMENU));
  EXPECT_EQ(r.Dword(), 0u);  // extended style
  uint16_t count = r.Word();
  ASSERT_EQ(count, 11);
  EXPECT_EQ(r.Short(), 0);
  EXPECT_EQ(r.Short(), 0);
  EXPECT_EQ(r.Short(), 317);
  EXPECT_EQ(r.Short(), 201);
  EXPECT_EQ(r.NameOrOrdinal(), "");  // no menu
  EXPECT_EQ(r.NameOrOrdinal(), "");  // the standard dialog class
  EXPECT_EQ(r.NameOrOrdinal(), kCaption);
  EXPECT_EQ(r.Word(), 8);  // points
  EXPECT_EQ(r.NameOrOrdinal(), "MS Sans Serif");

  constexpr uint32_t kChild = WS_CHILD | WS_VISIBLE;
  constexpr uint32_t kLineBox = kChild | WS_BORDER | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL;
  constexpr uint32_t kButton = kChild | WS_TABSTOP | BS_PUSHBUTTON;
  constexpr uint32_t kLabel = kChild | WS_GROUP | SS_LEFT;
  struct Control {
    uint16_t id;
    const char* window_class;  // predefined classes by ordinal: 0x80 button, 0x81 edit, 0x82 static
    uint32_t style;
    const char* text;
    int16_t x, y, w, h;
  };
  const Control expected[] = {
      {IDC_AUDIO_FILE, "#129", kLineBox, "", 7, 20, 280, 15},
      {IDC_OUTPUT_DIRECTORY, "#129", kLineBox, "", 7, 54, 280, 15},
      {IDC_AUDIO_BROWSE, "#128", kButton, "...", 293, 19, 17, 16},
      {IDC_OUTPUT_BROWSE, "#128", kButton, "...", 293, 52, 17, 16},
      {IDOK, "#128", kChild | WS_TABSTOP | BS_DEFPUSHBUTTON, "OK", 199, 179, 48, 14},
      {IDCANCEL, "#128", kButton, "Cancel", 260, 179, 50, 14},
      {0xFFFF, "#130", kLabel, "&Audio File: (input)", 7, 8, 55, 8},
      {0xFFFF, "#130", kLabel, "Output Directory:", 7, 41, 54, 8},
      {IDC_BREAK_FRAMES, "#129",
       kChild | WS_BORDER | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_NUMBER | ES_WANTRETURN |
           ES_AUTOVSCROLL | ES_AUTOHSCROLL,
       "", 7, 109, 148, 63},
      {0xFFFF, "#130", kLabel,
       "Files will be created as 'VDN Track 01.wav', 'VDN Track 02.wav' etc. \n"
       "EXISTING FILES WILL BE OVERWRITTEN",
       7, 75, 280, 19},
      {0xFFFF, "#130", kLabel, "Break tracks at frames:", 7, 96, 74, 8},
  };
  for (const Control& c : expected) {
    SCOPED_TRACE(c.text[0] ? c.text : std::to_string(c.id));
    r.AlignDword(base);
    EXPECT_EQ(r.Dword(), c.style);
    EXPECT_EQ(r.Dword(), 0u);
    EXPECT_EQ(r.Short(), c.x);
    EXPECT_EQ(r.Short(), c.y);
    EXPECT_EQ(r.Short(), c.w);
    EXPECT_EQ(r.Short(), c.h);
    EXPECT_EQ(r.Word(), c.id);
    EXPECT_EQ(r.NameOrOrdinal(), c.window_class);
    EXPECT_EQ(r.NameOrOrdinal(), c.text);
    EXPECT_EQ(r.Word(), 0);  // no creation data
  }
}

TEST(Win32Dialog, OpensWithTheSettingsAndSavesAScreenshot) {
  runner::FilterInstance filter(*TheModule().loaded);
  std::string sixty;
  for (int i = 1; i <= 60; ++i) sixty += std::to_string(i * 18) + (i < 60 ? "\r\n" : "");
  Set(State(filter), "C:\\Music\\theme song.wav", "D:\\Tracks", sixty.c_str());
  std::vector<uint8_t> before = Bytes(State(filter));

  std::string audio, directory, frames;
  LRESULT lines = 0, limit = 0;
  bool audio_focused = false;
  Picture shot;
  int result = RunDialog(filter, [&](HWND dialog, Session& s) {
    audio = ItemText(dialog, IDC_AUDIO_FILE);
    directory = ItemText(dialog, IDC_OUTPUT_DIRECTORY);
    frames = ItemText(dialog, IDC_BREAK_FRAMES);
    lines = SendDlgItemMessageA(dialog, IDC_BREAK_FRAMES, EM_GETLINECOUNT, 0, 0);
    limit = SendDlgItemMessageA(dialog, IDC_BREAK_FRAMES, EM_GETLIMITTEXT, 0, 0);
    // The dialog manager gives the focus to the first tab stop, the audio file box.
    audio_focused = WaitFor([&] { return FocusOf(s.ui_thread) == GetDlgItem(dialog, IDC_AUDIO_FILE); }, 3000);
    SetForegroundWindow(dialog);
    Sleep(300);  // let the window finish painting
    shot = Capture(dialog);
    Press(dialog, IDOK);
  });

  EXPECT_EQ(result, 0);
  EXPECT_EQ(audio, "C:\\Music\\theme song.wav");
  EXPECT_EQ(directory, "D:\\Tracks");
  EXPECT_EQ(frames, sixty);
  EXPECT_EQ(lines, 60);
  EXPECT_EQ(limit, 1023);
  EXPECT_TRUE(audio_focused);
  // Confirming without changes leaves every byte of the record as it was.
  EXPECT_EQ(Bytes(State(filter)), before);

  ASSERT_GT(shot.width, 300);
  ASSERT_GT(shot.height, 200);
  EXPECT_GT(DistinctColours(shot), 2u) << "the screenshot is blank";
  std::vector<uint8_t> png = EncodePng(shot.width, shot.height, shot.pixels);
  testing::WriteFileBytes(WindowsPath(TRACKLOOM_SCREENSHOT_FILE), png);
  std::printf("screenshot: %s (%dx%d)\n", TRACKLOOM_SCREENSHOT_FILE, shot.width, shot.height);
}

TEST(Win32Dialog, OkStoresWhatWasTyped) {
  const std::string long_audio = "C:\\" + std::string(300, 'a') + ".wav";
  const std::string long_directory = "D:\\" + std::string(280, 'd');
  struct Case {
    const char* name;
    std::string audio, directory, frames;        // typed into the boxes
    std::string want_audio, want_directory, want_frames;
  };
  const Case cases[] = {
      {"three lines, sorted, duplicates kept", "E:\\in.wav", "F:\\out", "300\r\n100\r\n200\r\n100",
       "E:\\in.wav", "F:\\out", "100;100;200;300"},
      {"paths cut to 259 characters", long_audio, long_directory, "5",
       long_audio.substr(0, 259), long_directory.substr(0, 259), "5"},
      {"pasted text keeps only the numbers", "", "", "abc12def\r\n0x10\r\n0\r\n5-3",
       "", "", "3;5;10;12"},
      {"everything emptied", "", "", "", "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    runner::FilterInstance filter(*TheModule().loaded);
    Set(State(filter), "C:\\old.wav", "C:\\old", "7;8;9");
    std::string shown_audio;
    int result = RunDialog(filter, [&](HWND dialog, Session&) {
      SetDlgItemTextA(dialog, IDC_AUDIO_FILE, c.audio.c_str());
      SetDlgItemTextA(dialog, IDC_OUTPUT_DIRECTORY, c.directory.c_str());
      SetDlgItemTextA(dialog, IDC_BREAK_FRAMES, c.frames.c_str());
      shown_audio = ItemText(dialog, IDC_AUDIO_FILE);  // the box takes the whole text
      Press(dialog, IDOK);
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(shown_audio, c.audio);
    EXPECT_EQ(std::string(State(filter).audio_path), c.want_audio);
    EXPECT_EQ(std::string(State(filter).output_directory), c.want_directory);
    EXPECT_EQ(Frames(State(filter)), c.want_frames);
  }
}

TEST(Win32Dialog, TheBreakFrameBoxTakesDigitsAndNewLines) {
  runner::FilterInstance filter(*TheModule().loaded);
  std::string typed;
  HWND focus_after_alt_a = nullptr, frames_box = nullptr;
  int result = RunDialog(filter, [&](HWND dialog, Session& s) {
    HWND box = GetDlgItem(dialog, IDC_BREAK_FRAMES);
    frames_box = box;
    PostChars(box, "x4");
    // The key's character follows the key; the next ones wait for it.
    PostKey(box, VK_RETURN);
    WaitFor([&] { return ItemText(dialog, IDC_BREAK_FRAMES) == "4\r\n"; }, 3000);
    PostChars(box, "2a0");
    WaitFor([&] { return ItemText(dialog, IDC_BREAK_FRAMES) == "4\r\n20"; }, 3000);
    typed = ItemText(dialog, IDC_BREAK_FRAMES);
    // Alt+A, the label's mnemonic, goes to the next tab stop after the label in
    // template order: the break-frame box.
    PostMessageA(GetDlgItem(dialog, IDC_AUDIO_FILE), WM_SYSCHAR, 'a', static_cast<LPARAM>(0x20000001));  // bit 29: Alt is down
    WaitFor([&] { return FocusOf(s.ui_thread) == box; }, 3000);
    focus_after_alt_a = FocusOf(s.ui_thread);
    Press(dialog, IDOK);
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(typed, "4\r\n20");
  EXPECT_EQ(focus_after_alt_a, frames_box);
  EXPECT_EQ(Frames(State(filter)), "4;20");
}

// Browsing: a file typed into the open-file dialog's name box, then Open.
bool PickFileInBrowser(const std::string& typed) {
  HWND browser = nullptr;
  if (!WaitFor([&] { return (browser = FindWindowA(kDialogClass, "Select Audio File")) != nullptr; }))
    return false;
  // The file name box: the combo box cmb13 in the Explorer layout, edt1 in the
  // classic one.
  HWND name = GetDlgItem(browser, 0x47c);
  if (name == nullptr) name = GetDlgItem(browser, 0x480);
  if (name == nullptr) {
    PostMessageA(browser, WM_COMMAND, IDCANCEL, 0);
    return false;
  }
  SetWindowTextA(name, typed.c_str());
  Press(browser, IDOK);
  if (WaitFor([&] { return !IsWindow(browser); }, 5000)) return true;
  // Still open: it refused the name with a message. Close both, or the dialog
  // under it could not end.
  PostMessageA(GetLastActivePopup(browser), WM_COMMAND, IDOK, 0);
  PostMessageA(browser, WM_COMMAND, IDCANCEL, 0);
  return false;
}

TEST(Win32Dialog, CancelEscAndCloseBoxChangeNothing) {
  testing::TempDir dir;
  testing::WriteFileBytes(dir.File("tone.wav"), testing::MakeWav(17640, 8, 2, {0x80, 0x80}));
  const std::string picked = WindowsPath(dir.File("tone.wav"));

  enum class Close { kCancelButton, kEsc, kCloseBox };
  struct Case {
    const char* name;
    Close close;
    bool browse_first;  // pick a file in the open-file dialog before closing
  };
  const Case cases[] = {
      {"Cancel button", Close::kCancelButton, false},
      {"Esc key", Close::kEsc, false},
      {"close box", Close::kCloseBox, false},
      {"Cancel after browsing", Close::kCancelButton, true},
      {"Esc after browsing", Close::kEsc, true},
      {"close box after browsing", Close::kCloseBox, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    runner::FilterInstance filter(*TheModule().loaded);
    Set(State(filter), "C:\\kept.wav", "C:\\kept", "30;10;20");
    std::vector<uint8_t> before = Bytes(State(filter));
    bool browsed = true;
    std::string box_after_browse;
    int result = RunDialog(filter, [&](HWND dialog, Session&) {
      SetDlgItemTextA(dialog, IDC_OUTPUT_DIRECTORY, "C:\\typed but not kept");
      SetDlgItemTextA(dialog, IDC_BREAK_FRAMES, "1\r\n2");
      if (c.browse_first) {
        Press(dialog, IDC_AUDIO_BROWSE);
        browsed = PickFileInBrowser(picked);
        WaitFor([&] { return ItemText(dialog, IDC_AUDIO_FILE) == picked; }, 3000);
        box_after_browse = ItemText(dialog, IDC_AUDIO_FILE);
      }
      switch (c.close) {
        case Close::kCancelButton:
          Press(dialog, IDCANCEL);
          break;
        case Close::kEsc:
          PostKey(GetDlgItem(dialog, IDC_OUTPUT_DIRECTORY), VK_ESCAPE);
          break;
        case Close::kCloseBox:
          PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
          break;
      }
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(Bytes(State(filter)), before);
    if (c.browse_first) {
      EXPECT_TRUE(browsed);
      EXPECT_EQ(box_after_browse, picked);
    }
  }
}

TEST(Win32Dialog, BrowseButtonsOpenTheSystemDialogs) {
  runner::FilterInstance filter(*TheModule().loaded);
  Set(State(filter), "C:\\in.wav", "C:\\out", "");
  struct Seen {
    bool file_dialog = false, folder_dialog = false;
    bool file_owned = false, folder_owned = false;
    std::string file_name, file_type;
    bool read_only_shown = true;
    LRESULT file_types = 0;
    std::string audio, directory;
  } seen;
  int result = RunDialog(filter, [&](HWND dialog, Session& s) {
    Press(dialog, IDC_AUDIO_BROWSE);
    HWND files = nullptr;
    seen.file_dialog = WaitFor([&] { return (files = FindWindowA(kDialogClass, "Select Audio File")) != nullptr; });
    if (seen.file_dialog) {
      seen.file_owned = GetWindow(files, GW_OWNER) == dialog;
      // Control ids of the common dialog: cmb13 the file name, cmb1 the file
      // types, chx1 the read-only check box.
      WaitFor([&] { return !ItemText(files, 0x47c).empty(); }, 3000);
      seen.file_name = ItemText(files, 0x47c);
      seen.read_only_shown = IsWindowVisible(GetDlgItem(files, 0x410)) != FALSE;
      seen.file_type = ItemText(files, 0x470);
      seen.file_types = SendDlgItemMessageA(files, 0x470, CB_GETCOUNT, 0, 0);
      PostMessageA(files, WM_COMMAND, IDCANCEL, 0);
      WaitFor([&] { return !IsWindow(files); });
    }
    Press(dialog, IDC_OUTPUT_BROWSE);
    HWND folders = nullptr;
    seen.folder_dialog = WaitFor([&] {
      return (folders = FindWindowWithText(s.ui_thread, "Select Directory for Output Files")) != nullptr;
    });
    if (seen.folder_dialog) {
      seen.folder_owned = GetWindow(folders, GW_OWNER) == dialog;
      PostMessageA(folders, WM_COMMAND, IDCANCEL, 0);
      WaitFor([&] { return !IsWindow(folders); });
    }
    seen.audio = ItemText(dialog, IDC_AUDIO_FILE);
    seen.directory = ItemText(dialog, IDC_OUTPUT_DIRECTORY);
    Press(dialog, IDOK);
  });
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(seen.file_dialog);
  EXPECT_TRUE(seen.file_owned);
  // The box's text is the initial file name (the folder part becomes the folder shown).
  EXPECT_NE(seen.file_name.find("in.wav"), std::string::npos) << seen.file_name;
  EXPECT_EQ(seen.file_type, "WAV files");
  EXPECT_EQ(seen.file_types, 2);
  EXPECT_FALSE(seen.read_only_shown);
  EXPECT_TRUE(seen.folder_dialog);
  EXPECT_TRUE(seen.folder_owned);
  EXPECT_EQ(seen.audio, "C:\\in.wav");
  EXPECT_EQ(seen.directory, "C:\\out");
  EXPECT_EQ(std::string(State(filter).audio_path), "C:\\in.wav");
  EXPECT_EQ(std::string(State(filter).output_directory), "C:\\out");
}

TEST(Win32Dialog, BrowsingFillsTheBoxesAndOkKeepsThem) {
  testing::TempDir dir;
  testing::WriteFileBytes(dir.File("tone.wav"), testing::MakeWav(17640, 8, 2, {0x80, 0x80}));
  const std::string picked_file = WindowsPath(dir.File("tone.wav"));
  // The browser opens at the top of the shell's namespace with it selected: OK
  // there picks the desktop, whose file-system folder is this one.
  char desktop[MAX_PATH] = "";
  SHGetFolderPathA(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, 0, desktop);
  const std::string picked_folder = desktop;
  ASSERT_FALSE(picked_folder.empty());
  runner::FilterInstance filter(*TheModule().loaded);
  Set(State(filter), "C:\\old.wav", "C:\\old", "5");
  bool file_picked = false, folder_found = false;
  std::string folder_box;
  int result = RunDialog(filter, [&](HWND dialog, Session& s) {
    Press(dialog, IDC_AUDIO_BROWSE);
    file_picked = PickFileInBrowser(picked_file);
    Press(dialog, IDC_OUTPUT_BROWSE);
    HWND folders = nullptr;
    folder_found = WaitFor([&] {
      return (folders = FindWindowWithText(s.ui_thread, "Select Directory for Output Files")) != nullptr;
    });
    if (folder_found) {
      Press(folders, IDOK);
      WaitFor([&] { return !IsWindow(folders); });
    }
    WaitFor([&] { return ItemText(dialog, IDC_OUTPUT_DIRECTORY) != "C:\\old"; }, 3000);
    folder_box = ItemText(dialog, IDC_OUTPUT_DIRECTORY);
    Press(dialog, IDOK);
  });
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(file_picked);
  EXPECT_TRUE(folder_found);
  EXPECT_EQ(std::string(State(filter).audio_path), picked_file);
  EXPECT_EQ(folder_box, picked_folder);
  EXPECT_EQ(std::string(State(filter).output_directory), picked_folder);
  EXPECT_EQ(Frames(State(filter)), "5");
}

TEST(Win32Dialog, NoDialogWithoutItsTemplate) {
  runner::FilterInstance filter(*TheModule().loaded);
  Set(State(filter), "C:\\kept.wav", "C:\\kept", "1");
  std::vector<uint8_t> before = Bytes(State(filter));
  HostContext context = filter.context();
  FilterRecord copy = *context.filter;
  // This test program has no template 101: the dialog cannot be shown.
  HostModule without_template{nullptr, nullptr, GetModuleHandleA(nullptr)};
  HostModule without_handle{nullptr, nullptr, nullptr};
  for (HostModule* module : {&without_template, &without_handle}) {
    copy.module = module;
    context.filter = &copy;
    EXPECT_EQ(copy.configure(&context, TheModule().editor.services(), nullptr), -1);
  }
  EXPECT_EQ(Bytes(State(filter)), before);
}

}  // namespace
}  // namespace trackloom
