#include "cli/studio/studio_server.h"

#include <httplib.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "cli/common/cli_error.h"
#include "cli/common/interrupt.h"
#include "cli/common/messages.h"
#include "cli/common/platform.h"
#include "cli/common/unique_fd.h"
#include "cli/studio/child_process.h"
#include "cli/studio/request_guard.h"
#include "cli/studio/studio_state.h"
#include "cli/studio_web_assets.h"

namespace trackloom::cli::studio {

namespace fs = std::filesystem;

namespace {

// Nothing but the page's own files: no inline script or style, nothing remote.
constexpr char kContentSecurityPolicy[] =
    "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self' blob:; "
    "media-src 'self'; connect-src 'self'; object-src 'none'; base-uri 'none'; "
    "frame-ancestors 'none'; form-action 'self'";

constexpr size_t kWorkers = 64;

RequestFacts FactsOf(const httplib::Request& req) {
  RequestFacts facts;
  facts.method = req.method;
  facts.host = req.get_header_value("Host");
  facts.has_origin = req.has_header("Origin");
  facts.origin = req.get_header_value("Origin");
  facts.cookie = req.get_header_value("Cookie");
  facts.path = req.path;
  if (req.path == "/") facts.token = req.get_param_value("token");
  facts.has_fetch_site = req.has_header("Sec-Fetch-Site");
  facts.fetch_site = req.get_header_value("Sec-Fetch-Site");
  facts.from_page = req.get_header_value("X-Trackloom-Page") == "1";
  return facts;
}

void Refuse(httplib::Response& res) {
  res.status = 403;
  res.set_content("Forbidden\n", "text/plain; charset=utf-8");
}

// Every request passes here before it is routed.
void InstallGuard(httplib::Server& server, SessionKeys& keys) {
  server.set_pre_routing_handler([&keys](const httplib::Request& req, httplib::Response& res) {
    switch (keys.Judge(FactsOf(req))) {
      case GuardVerdict::kAllow:
        return httplib::Server::HandlerResponse::Unhandled;
      case GuardVerdict::kExchangeToken:
        // The key is spent: from here on the cookie carries the session. The page goes
        // on to itself from here, a step of its own, so that the browser sends the
        // cookie even when the key came from another site (the launcher file), and
        // the key leaves the address bar.
        res.set_header("Set-Cookie", keys.CookieHeader());
        res.set_header("Cache-Control", "no-store");
        res.set_header("Referrer-Policy", "no-referrer");
        res.set_content(
            "<!doctype html><meta charset=utf-8><meta http-equiv=refresh content=\"0;url=/\">"
            "<title>Trackloom studio</title><a href=\"/\">Trackloom studio</a>\n",
            "text/html; charset=utf-8");
        return httplib::Server::HandlerResponse::Handled;
      case GuardVerdict::kRefuse:
        break;
    }
    Refuse(res);
    return httplib::Server::HandlerResponse::Handled;
  });
}

}  // namespace

void AnswerJson(httplib::Response& res, int status, const Json& body) {
  res.status = status;
  res.set_content(WriteJson(body), "application/json");
}

void AnswerError(httplib::Response& res, int status, const std::string& message) {
  AnswerJson(res, status, Json{{"message", message}});
}

namespace {

void AddPageRoutes(httplib::Server& server, StudioState& state) {
  for (const web::Asset& asset : web::kAssets) {
    const std::string body(reinterpret_cast<const char*>(asset.data), asset.size);
    const std::string type = asset.type;
    auto serve = [body, type](const httplib::Request&, httplib::Response& res) {
      res.set_content(body, type.c_str());
    };
    server.Get(std::string("^") + asset.path + "$", serve);
    if (std::string(asset.path) == "/index.html") server.Get("^/$", serve);
  }
  server.Post("/api/quit", [&state](const httplib::Request&, httplib::Response& res) {
    res.set_content("{}", "application/json");
    state.quit();
  });
}

void ConfigureServer(httplib::Server& server) {
  server.set_default_headers({{"Content-Security-Policy", kContentSecurityPolicy},
                              {"X-Content-Type-Options", "nosniff"},
                              {"Referrer-Policy", "no-referrer"},
                              {"Cache-Control", "no-store"},
                              {"X-Frame-Options", "DENY"}});
  server.set_payload_max_length(size_t{1} << 40);
  // A client that sends slowly, or holds a connection idle, takes one worker for a
  // short while only, and there are workers enough that the page is always answered.
  server.new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
  server.set_read_timeout(2);
  server.set_write_timeout(10);
  server.set_keep_alive_timeout(1);
  server.set_keep_alive_max_count(100);
  server.set_exception_handler(
      [](const httplib::Request&, httplib::Response& res, std::exception_ptr failure) {
        std::string why = "the studio failed";
        try {
          std::rethrow_exception(failure);
        } catch (const std::exception& e) {
          why = e.what();
        }
        res.status = 500;
        res.set_content(WriteJson(Json{{"message", why}}), "application/json");
      });
}

// Ctrl-C, or Quit, stops the server once a running encode has finished its track.
void WatchForStop(httplib::Server& server, StudioState& state, std::atomic<bool>& quitting) {
  while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  while (server.is_running()) {
    if (StopRequested() || quitting) {
      state.job.Cancel();
      state.rip.Cancel();
      // Also answers the requests that wait for a video, which the server waits for.
      state.watch.Stop();
      while (state.job.running() || state.rip.running())
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      server.stop();
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

constexpr char kCachePrefix[] = "trackloom-studio-";
constexpr char kCacheLock[] = "in-use";

// Takes the cache folder's lock, held as long as the studio runs; an empty owner when
// another studio holds it.
UniqueFd LockCache(const fs::path& cache) {
  UniqueFd fd(OpenDescriptor((cache / kCacheLock).c_str(),
                             O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (fd && flock(fd.get(), LOCK_EX | LOCK_NB) != 0) fd.Reset();
  return fd;
}

// A studio's own cache folder: the prefix and a session key (32 hexadecimal digits),
// never another folder that merely begins the same way.
bool IsCacheName(const std::string& name) {
  const std::string prefix = kCachePrefix;
  if (name.size() != prefix.size() + 32 || name.rfind(prefix, 0) != 0) return false;
  return name.find_first_not_of("0123456789abcdef", prefix.size()) == std::string::npos;
}

// The folders of studios that were killed: nothing holds their lock any more.
void ClearLeftovers(const fs::path& parent) {
  std::error_code ec;
  for (fs::directory_iterator it(parent, ec), end; !ec && it != end; it.increment(ec)) {
    if (!IsCacheName(it->path().filename().string()) || !it->is_directory(ec) || it->is_symlink(ec))
      continue;
    struct stat info = {};
    if (::lstat(it->path().c_str(), &info) != 0 || info.st_uid != ::geteuid()) continue;
    if (const UniqueFd lock = LockCache(it->path()); lock) {
      std::error_code removed;
      fs::remove_all(it->path(), removed);
    }
  }
}

// The page that takes the browser to address, as a file in the private cache (only
// this user can read it): its file:// address, or "" with *why when it cannot be
// written.
std::string WriteLauncher(const fs::path& cache, const std::string& address, std::string* why) {
  const fs::path path = cache / "open.html";
  UniqueFd fd(
      OpenDescriptor(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  const std::string page =
      "<!doctype html><meta charset=utf-8><meta http-equiv=refresh content=\"0;url=" + address +
      "\"><title>Trackloom studio</title><a href=\"" + address + "\">Trackloom studio</a>\n";
  if (!fd || !WriteAll(fd.get(), page.data(), page.size()) || !fd.Close()) {
    *why = std::strerror(errno);
    return "";
  }
  return "file://" + path.string();
}

// The previews and renders are the user's pictures: a folder only the user can open,
// in the user's runtime folder where there is one (XDG_RUNTIME_DIR, itself private),
// the temporary folder otherwise. Its lock is held until the studio ends.
fs::path MakeCache(UniqueFd* lock) {
  std::error_code ec;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  fs::path parent = runtime != nullptr && runtime[0] == '/' && fs::is_directory(runtime, ec)
                        ? fs::path(runtime)
                        : fs::temp_directory_path(ec);
  if (!ec) ClearLeftovers(parent);
  const fs::path cache = parent / (kCachePrefix + NewSessionToken());
  if (ec || MakeDirectory(cache.c_str(), 0700) != 0)
    throw CliError("cannot make a folder for previews in " + parent.string() + ": " +
                   (ec ? ec.message() : std::strerror(errno)));
  *lock = LockCache(cache);
  return cache;
}

}  // namespace

int RunStudioServer(const StudioOptions& options, std::FILE* out, std::FILE* err) {
  StudioState state;
  std::error_code ec;
  state.folder = fs::canonical(options.folder.empty() ? "." : options.folder, ec);
  if (ec || !fs::is_directory(state.folder))
    throw CliError("the project folder '" + options.folder + "' is not a folder that exists");
  UniqueFd cache_lock;
  state.cache = MakeCache(&cache_lock);
  state.proxies = std::make_unique<PreviewProxies>(state.cache);
  state.watch.set_folder(state.cache);
  SessionKeys keys(0);
  std::atomic<bool> quitting{false};
  state.quit = [&quitting] { quitting = true; };
  httplib::Server server;
  ConfigureServer(server);
  InstallGuard(server, keys);
  AddPageRoutes(server, state);
  AddFileRoutes(server, state);
  AddProjectRoutes(server, state);
  AddRipRoutes(server, state);
  const int port = options.port == 0
                       ? server.bind_to_any_port("127.0.0.1")
                       : (server.bind_to_port("127.0.0.1", options.port) ? options.port : -1);
  keys.set_port(port);
  if (port <= 0)
    throw CliError("cannot listen on 127.0.0.1 port " + std::to_string(options.port) +
                   ": choose another with --port");
  const std::string address =
      "http://127.0.0.1:" + std::to_string(port) + "/?token=" + keys.token();
  std::fprintf(out, "%s\n", address.c_str());
  std::fflush(out);
  // The browser is given a file only this user can read, never the key itself: a
  // command line is there for every user of the machine to read.
  if (options.open_browser) {
    std::string why;
    if (const std::string launcher = WriteLauncher(state.cache, address, &why); !launcher.empty())
      OpenBrowser(launcher);
    else
      Tell(err, "trackloom studio: cannot write the page that opens your browser (" + why +
                    "): open the address above in it yourself");
  }
  Tell(err, "trackloom studio: serving " + Printable(state.folder.string()) +
                "; Ctrl-C or the page's Quit stops it");
  std::thread watcher([&] { WatchForStop(server, state, quitting); });
  server.listen_after_bind();
  watcher.join();
  state.proxies.reset();
  state.watch.Stop();
  fs::remove_all(state.cache, ec);
  cache_lock.Reset();
  return StopRequested() ? InterruptedExitStatus() : 0;
}

}  // namespace trackloom::cli::studio
