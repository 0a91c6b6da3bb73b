// The studio's server as anything on the machine can reach it: every request it
// must refuse, and the ones it must answer, sent with a plain HTTP client.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "tests/cli_run.h"
#include "tests/support/temp_dir.h"

namespace trackloom::testing {
namespace {

// One request and what the server must answer. In target, host, origin, cookie, header
// and body, {PORT}, {TOKEN}, {SESSION} (the cookie the key was exchanged for),
// {FOLDER} and {OUTSIDE} (a folder beside the project's) are replaced with the running
// server's. The rows run in order: the key is exchanged once, in the third.
struct GuardRow {
  const char* what;
  const char* method;
  const char* target;
  const char* host;    // "" for the server's own 127.0.0.1:PORT
  const char* origin;  // nullptr: none sent
  bool cookie;         // the session's cookie sent
  const char* body;
  int status;
  const char* header = nullptr;  // another header, "Name: value"
};

constexpr char kPageAsks[] = "X-Trackloom-Page: 1";

const GuardRow kRows[] = {
    {"no cookie, no token", "GET", "/", "", nullptr, false, "", 403},
    {"a wrong token", "GET", "/?token=00000000000000000000000000000000", "", nullptr, false, "",
     403},
    {"the token from the launcher file is exchanged for the cookie", "GET", "/?token={TOKEN}", "",
     nullptr, false, "", 200, "Sec-Fetch-Site: cross-site"},
    {"the key a second time", "GET", "/?token={TOKEN}", "", nullptr, false, "", 403},
    {"the key itself as the cookie", "GET", "/", "", nullptr, false, "", 403,
     "Cookie: trackloom_session_{PORT}={TOKEN}"},
    {"the page with the cookie", "GET", "/", "", nullptr, true, "", 200},
    {"the page at a typed address", "GET", "/", "", nullptr, true, "", 200, "Sec-Fetch-Site: none"},
    {"the page from a page on another port", "GET", "/", "", nullptr, true, "", 403,
     "Sec-Fetch-Site: same-site"},
    {"data for a picture of a page on another port", "GET", "/api/status", "", nullptr, true, "",
     403, "Sec-Fetch-Site: same-site"},
    {"data for another site's page", "GET", "/api/status", "", nullptr, true, "", 403,
     "Sec-Fetch-Site: cross-site"},
    {"data the page did not ask for", "GET", "/api/status", "", nullptr, true, "", 403},
    {"data the page asks for", "GET", "/api/status", "", nullptr, true, "", 200,
     "Sec-Fetch-Site: same-origin"},
    {"data the page asks for, in a browser without Sec-Fetch-Site", "GET", "/api/status", "",
     nullptr, true, "", 200, kPageAsks},
    {"a write from a page on another port", "POST", "/api/cancel", "", "http://127.0.0.1:{PORT}",
     true, "{}", 403, "Sec-Fetch-Site: same-site"},
    {"a file name cut short by a NUL", "POST", "/api/pick", "", "http://127.0.0.1:{PORT}", true,
     "{\"path\": \"/etc/passwd\\u0000.mp4\"}", 400},
    {"a disk that is no CD drive", "POST", "/api/rip", "", "http://127.0.0.1:{PORT}", true,
     "{\"source\": \"/dev/null\", \"format\": \"mkv\"}", 403},
    {"the picked file's data", "GET", "/api/facts?path=/etc/passwd%00.mp4", "", nullptr, true, "",
     403, kPageAsks},
    {"a project of the wrong kinds", "POST", "/api/project", "", "http://127.0.0.1:{PORT}", true,
     "{\"videos\": \"nope\"}", 400},
    {"a FIFO picked (a reader would wait on it for ever)", "POST", "/api/pick", "",
     "http://127.0.0.1:{PORT}", true, "{\"path\": \"{FOLDER}/pipe.mp4\"}", 404},
    {"the page by the name localhost", "GET", "/", "localhost:{PORT}", nullptr, true, "", 200},
    {"another host name (DNS rebinding)", "GET", "/", "evil.example:{PORT}", nullptr, true, "",
     403},
    {"another port", "GET", "/", "127.0.0.1:1", nullptr, true, "", 403},
    {"a token under another host name", "GET", "/?token={TOKEN}", "evil.example", nullptr, false,
     "", 403},
    {"a write without Origin", "POST", "/api/project", "", nullptr, true, "{}", 403},
    {"a write from another site", "POST", "/api/project", "", "http://evil.example", true, "{}",
     403},
    {"a write from a look-alike origin", "POST", "/api/project", "",
     "http://127.0.0.1:{PORT}.evil.example", true, "{}", 403},
    {"a write from the page", "POST", "/api/project", "", "http://127.0.0.1:{PORT}", true, "{}",
     200},
    {"a write of the page without the cookie", "POST", "/api/project", "",
     "http://127.0.0.1:{PORT}", false, "{}", 403},
    {"a read from another site", "GET", "/api/status", "", "http://evil.example", true, "", 403,
     kPageAsks},
    {"a project naming a file never picked", "POST", "/api/project", "", "http://127.0.0.1:{PORT}",
     true, "{\"videos\":[{\"path\":\"{OUTSIDE}/secret.mp4\"}]}", 403},
    {"a disc written out of the project", "POST", "/api/project", "", "http://127.0.0.1:{PORT}",
     true, "{\"output\":\"{FOLDER}/../outside\"}", 400},
    {"a disc written out of the project by ..", "POST", "/api/project", "",
     "http://127.0.0.1:{PORT}", true, "{\"output\":\"../outside\"}", 400},
    {"a disc written into the project", "POST", "/api/project", "", "http://127.0.0.1:{PORT}", true,
     "{\"output\":\"discs/today\"}", 200},
    {"a rip of a file never picked", "POST", "/api/rip", "", "http://127.0.0.1:{PORT}", true,
     "{\"source\": \"{OUTSIDE}/secret.mp4\", \"format\": \"mkv\"}", 403},
    {"a preview of a file never picked", "GET", "/api/preview?path={OUTSIDE}/secret.mp4", "",
     nullptr, true, "", 403, kPageAsks},
    {"an encoded .. out of the project", "GET",
     "/api/facts?path={FOLDER}/%2e%2e/outside/secret.mp4", "", nullptr, true, "", 403, kPageAsks},
    {"an encoded / and .. out of the project", "GET",
     "/api/facts?path={FOLDER}%2f%2e%2e%2foutside%2fsecret.mp4", "", nullptr, true, "", 403,
     kPageAsks},
    {"an encoded .. in the page's own files", "GET", "/%2e%2e/%2e%2e/etc/passwd", "", nullptr, true,
     "", 404},
    {"an encoded / and .. in the page's own files", "GET", "/..%2f..%2fetc%2fpasswd", "", nullptr,
     true, "", 404},
    {"no listing of the page's own folder", "GET", "/web/", "", nullptr, true, "", 404},
    {"an upload named out of the project", "POST", "/api/upload?name=..%2f..%2fescape.mp4", "",
     "http://127.0.0.1:{PORT}", true, "1234", 200},
    {"an upload named as a hidden file", "POST", "/api/upload?name=.bashrc", "",
     "http://127.0.0.1:{PORT}", true, "1234", 400},
    {"an upload that is no video", "POST", "/api/upload?name=run.sh", "", "http://127.0.0.1:{PORT}",
     true, "1234", 400},
};

std::string Fill(std::string text, const std::map<std::string, std::string>& values) {
  for (const auto& [key, value] : values) {
    for (size_t at; (at = text.find(key)) != std::string::npos;)
      text.replace(at, key.size(), value);
  }
  return text;
}

class StudioSecurityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(root_.File("project"));
    std::filesystem::create_directories(root_.File("outside"));
    std::ofstream(root_.File("outside/secret.mp4")) << "secret";
    ASSERT_EQ(mkfifo(root_.File("project/pipe.mp4").c_str(), 0600), 0);
    std::filesystem::create_directories(root_.File("logs"));
    pid_ = StartTrackloom({"studio", root_.File("project"), "--no-browser", "--port", "0"},
                          root_.File("logs"));
    // Only a guard against a server that never comes up.
    for (int i = 0; i < 400 && address_.empty(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      std::ifstream out(root_.File("logs/stdout"));
      std::string line;
      if (std::getline(out, line) && line.find("token=") != std::string::npos) address_ = line;
    }
    ASSERT_FALSE(address_.empty()) << "the studio printed no address";
    port_ = address_.substr(17, address_.find('/', 17) - 17);
    token_ = address_.substr(address_.find("token=") + 6);
  }
  void TearDown() override {
    kill(pid_, SIGINT);
    const CommandResult r = WaitFor(pid_, root_.File("logs"));
    EXPECT_EQ(r.status, 130) << r.err;
  }

  TempDir root_;
  pid_t pid_ = -1;
  std::string address_, port_, token_;
};

TEST_F(StudioSecurityTest, EveryRequestIsJudgedBeforeItIsRouted) {
  const std::map<std::string, std::string> values = {{"{PORT}", port_},
                                                     {"{TOKEN}", token_},
                                                     {"{FOLDER}", root_.File("project")},
                                                     {"{OUTSIDE}", root_.File("outside")}};
  httplib::Client client("127.0.0.1", std::stoi(port_));
  client.set_url_encode(false);
  std::string session;  // the cookie the key is exchanged for
  for (const GuardRow& row : kRows) {
    httplib::Headers headers;
    if (row.host[0] != '\0') headers.emplace("Host", Fill(row.host, values));
    if (row.origin != nullptr) headers.emplace("Origin", Fill(row.origin, values));
    if (row.cookie) headers.emplace("Cookie", session);
    if (row.header != nullptr) {
      const std::string header = Fill(row.header, values);
      headers.emplace(header.substr(0, header.find(':')), header.substr(header.find(':') + 2));
    }
    const std::string target = Fill(row.target, values);
    const httplib::Result r =
        std::string(row.method) == "GET"
            ? client.Get(target, headers)
            : client.Post(target, headers, Fill(row.body, values), "application/json");
    ASSERT_TRUE(r) << row.what;
    EXPECT_EQ(r->status, row.status) << row.what;
    EXPECT_FALSE(r->has_header("Access-Control-Allow-Origin")) << row.what;
    if (r->status == 200 && std::string(row.target) == "/") {
      EXPECT_NE(r->get_header_value("Content-Security-Policy").find("default-src 'self'"),
                std::string::npos);
    }
    if (r->has_header("Set-Cookie")) {
      // A cookie of its own, named for the port, not the key.
      const std::string cookie = r->get_header_value("Set-Cookie");
      EXPECT_NE(cookie.find("HttpOnly"), std::string::npos);
      EXPECT_NE(cookie.find("SameSite=Strict"), std::string::npos);
      EXPECT_EQ(cookie.rfind("trackloom_session_" + port_ + "=", 0), 0u) << cookie;
      EXPECT_EQ(cookie.find(token_), std::string::npos) << cookie;
      // The page goes on to itself, a step of its own that carries the cookie.
      EXPECT_NE(r->body.find("url=/\""), std::string::npos) << r->body;
      session = cookie.substr(0, cookie.find(';'));
    }
  }
  // The upload named out of the project landed in it, under its last name only.
  EXPECT_FALSE(FileExists(root_.File("escape.mp4")));
  EXPECT_TRUE(FileExists(root_.File("project/escape.mp4")));
  EXPECT_FALSE(FileExists(root_.File("project/.bashrc")));
}

// A project file cut short is kept aside, never overwritten unseen, and the page told.
TEST(StudioProject, ADamagedProjectFileIsKeptAndTold) {
  TempDir root;
  std::filesystem::create_directories(root.File("project"));
  std::filesystem::create_directories(root.File("logs"));
  std::ofstream(root.File("project/trackloom-project.json"))
      << "{\"name\": \"film\", \"videos\": [";
  const pid_t pid = StartTrackloom({"studio", root.File("project"), "--no-browser", "--port", "0"},
                                   root.File("logs"));
  std::string address;
  for (int i = 0; i < 400 && address.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::ifstream out(root.File("logs/stdout"));
    std::getline(out, address);
  }
  ASSERT_NE(address.find("token="), std::string::npos);
  httplib::Client client("127.0.0.1", std::stoi(address.substr(17, address.find('/', 17) - 17)));
  const httplib::Result entered = client.Get(address.substr(address.find('/', 17)));
  ASSERT_TRUE(entered);
  const std::string cookie = entered->get_header_value("Set-Cookie");
  const httplib::Result project = client.Get(
      "/api/project", {{"Cookie", cookie.substr(0, cookie.find(';'))}, {"X-Trackloom-Page", "1"}});
  ASSERT_TRUE(project);
  EXPECT_NE(project->body.find("kept as trackloom-project.damaged.json"), std::string::npos)
      << project->body;
  std::ifstream kept(root.File("project/trackloom-project.damaged.json"));
  std::string text;
  std::getline(kept, text);
  EXPECT_EQ(text, "{\"name\": \"film\", \"videos\": [");
  kill(pid, SIGINT);
  WaitFor(pid, root.File("logs"));
}

// The browser is handed a page only this user can read, which holds the key; never
// the key on a command line (every user can read those). Where that page cannot be
// written, no browser is opened and the user is told to open the address.
TEST(StudioLauncher, TheBrowserGetsAPrivatePageOrNothing) {
  TempDir dir;
  std::filesystem::create_directories(dir.File("bin"));
  std::filesystem::create_directories(dir.File("project"));
  const std::string opener = dir.File("bin/xdg-open");
  std::ofstream(opener) << "#!/bin/sh\necho \"$*\" > " << dir.File("opened")
                        << "\ncp \"${1#file://}\" " << dir.File("launcher")
                        << "\nstat -c %a \"${1#file://}\" > " << dir.File("mode") << "\n";
  std::filesystem::permissions(opener, std::filesystem::perms::owner_all);
  const struct {
    const char* file_size_limit;
    bool opened;
  } rows[] = {{"unlimited", true}, {"0", false}};
  for (const auto& row : rows) {
    for (const char* name : {"opened", "launcher", "mode"}) std::filesystem::remove(dir.File(name));
    // The studio's standard output is the address, its error what it tells: both
    // through pipes, which the file size limit does not reach.
    const CommandResult r = RunCommand(
        {"sh", "-c",
         "{ { (ulimit -f " + std::string(row.file_size_limit) + "; PATH=" + dir.File("bin") +
             ":$PATH exec timeout -s INT 3 " + TrackloomBinary() + " studio " +
             dir.File("project") + " --port 0 2>&1 1>&3) | cat; } 3>&1 1>&4 | cat >" +
             dir.File("address") + "; } 4>&1"});
    std::ifstream in(dir.File("address"));
    std::string address;
    std::getline(in, address);
    ASSERT_NE(address.find("token="), std::string::npos) << r.out;
    const std::string key = address.substr(address.find("token=") + 6);
    std::ifstream opened(dir.File("opened")), launcher(dir.File("launcher")),
        mode(dir.File("mode"));
    std::string argument, page, permissions;
    std::getline(opened, argument);
    std::getline(launcher, page);
    std::getline(mode, permissions);
    EXPECT_EQ(argument.empty(), !row.opened) << row.file_size_limit;
    EXPECT_EQ(argument.find(key), std::string::npos) << argument;
    if (row.opened) {
      EXPECT_EQ(argument.rfind("file://", 0), 0u) << argument;
      EXPECT_NE(page.find(address), std::string::npos) << page;
      EXPECT_EQ(permissions, "600");
    } else {
      EXPECT_NE(r.out.find("cannot write the page that opens your browser (File too large): "
                           "open the address above in it yourself"),
                std::string::npos)
          << r.out;
    }
  }
}

// Clients that send their headers a byte at a time, or hold their connections idle,
// never keep the page from its answers.
TEST_F(StudioSecurityTest, SlowAndIdleClientsDoNotHoldThePage) {
  std::vector<int> slow;
  for (int i = 0; i < 50; ++i) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(std::stoi(port_)));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    const char* start = i % 2 == 0 ? "GET /api/status HTTP/1.1\r\nHo" : "";
    send(fd, start, std::strlen(start), MSG_NOSIGNAL);
    slow.push_back(fd);
  }
  httplib::Client client("127.0.0.1", std::stoi(port_));
  // Only a guard: without enough workers the answer waits for the slow ones' timeouts.
  client.set_read_timeout(std::chrono::seconds(4));
  for (int round = 0; round < 3; ++round) {
    for (int fd : slow) send(fd, "s", 1, MSG_NOSIGNAL);  // one more byte each
    const httplib::Result r = client.Get("/");
    ASSERT_TRUE(r) << "round " << round;
    EXPECT_EQ(r->status, 403);
    std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  for (int fd : slow) close(fd);
}

}  // namespace
}  // namespace trackloom::testing

namespace trackloom::testing {
namespace {

// A child of the studio that outlives it would go on writing tracks no page shows and
// hold the folder's lock: killed with -9, the parent still takes its child with it,
// and the child finishes as after Ctrl-C, every track it leaves complete.
TEST(StudioChildren, EndWithTheStudioHoweverItEnds) {
  TempDir dir;
  Ffmpeg({"-f", "lavfi", "-i", "testsrc=size=144x80:rate=18:duration=1200", "-c:v", "ffv1",
          dir.File("long.mkv")});
  // A shell stands for the studio: the command it starts names it as its parent.
  const std::string script = "TRACKLOOM_PARENT_PID=$$ '" + TrackloomBinary() + "' encode '" +
                             dir.File("long.mkv") + "' -o '" + dir.File("out") +
                             "' --no-audio --break-every 60 -q & echo $! >'" + dir.File("pid") +
                             "'; wait";
  const pid_t parent = fork();
  if (parent == 0) {
    execl("/bin/sh", "sh", "-c", script.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  pid_t child = 0;
  for (int i = 0; i < 200 && (child == 0 || !FileExists(dir.File("out/" + TrackFileName(2))));
       ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::ifstream(dir.File("pid")) >> child;
  }
  ASSERT_GT(child, 0);
  // Held still while its parent dies, so that the signal waits for it whatever the
  // machine's speed: the encode alone would soon finish the whole video anyway.
  auto state = [child] {
    std::string stat;
    std::getline(std::ifstream("/proc/" + std::to_string(child) + "/stat"), stat);
    const size_t at = stat.rfind(") ");
    return at == std::string::npos ? 'X' : stat[at + 2];
  };
  kill(child, SIGSTOP);
  for (int i = 0; i < 100 && state() != 'T'; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  kill(parent, SIGKILL);
  waitpid(parent, nullptr, 0);
  std::string pending;
  std::ifstream status("/proc/" + std::to_string(child) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("ShdPnd:", 0) == 0 || line.rfind("SigPnd:", 0) == 0) pending += line + "\n";
  }
  // SIGTERM is signal 15: bit 14 of the pending set.
  bool told = false;
  for (size_t at = 0; (at = pending.find(':', at)) != std::string::npos; ++at) {
    told = told || (std::stoull(pending.substr(at + 1), nullptr, 16) & 0x4000) != 0;
  }
  EXPECT_TRUE(told) << "no SIGTERM waits for the encode:\n" << pending;
  kill(child, SIGCONT);
  // Ended: gone, or a zombie nobody has reaped yet. Only a guard against one that hangs.
  auto running = [&state] { return state() != 'X' && state() != 'Z'; };
  for (int i = 0; i < 1200 && running(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::vector<std::string> inspect{"inspect", "-q"};
  for (const std::string& name : ListDirectory(dir.File("out")))
    inspect.push_back(dir.File("out/" + name));
  ASSERT_GT(inspect.size(), 3u);
  if (told) {
    EXPECT_LT(inspect.size(), 2u + 20u) << "the encode went on to the video's end";
  }
  const CommandResult check = RunTrackloom(inspect);
  EXPECT_EQ(check.status, 0) << check.out;
}

}  // namespace
}  // namespace trackloom::testing
