// What every request to the studio's server must show before it is routed. The
// server listens on the loopback interface only, but any web page the user opens
// can still send requests there, and a name the user's DNS points at 127.0.0.1 can
// read the answers: so a request must name the server as its Host (DNS rebinding),
// a write must come from the page itself (Origin), a read of data must be the page's
// own (Sec-Fetch-Site, or the page's header where a browser sends none), and all of
// them must carry the session's cookie, got once by the address the command opened
// with its token.
#pragma once

#include <atomic>
#include <string>

namespace trackloom::cli::studio {

// The facts of a request the guard judges, taken from its headers and target.
struct RequestFacts {
  std::string method;
  std::string path;
  std::string host;    // the Host header
  std::string origin;  // the Origin header, or empty
  bool has_origin = false;
  std::string cookie;  // the Cookie header, or empty
  std::string token;   // the "token" query parameter, or empty
  // The Sec-Fetch-Site header browsers send with every request: "same-origin" from the
  // page itself, "none" when the user typed the address, "same-site" or "cross-site"
  // from another page (another port of 127.0.0.1 is the same site).
  std::string fetch_site;
  bool has_fetch_site = false;
  bool from_page = false;  // the X-Trackloom-Page header the page's own requests carry
};

enum class GuardVerdict {
  kAllow,          // route it
  kExchangeToken,  // the address with the token: set the cookie and redirect
  kRefuse,         // 403
};

// The session's secrets: the key in the address the command prints, good for one
// exchange, and the cookie's value it is exchanged for, which is another random value.
class SessionKeys {
 public:
  // Throws CliError when the system has no random source.
  explicit SessionKeys(int port);
  const std::string& token() const { return token_; }
  // The cookie's name carries the port, so that two studios in one browser (cookies are
  // not kept apart by port) each keep their own.
  std::string CookieName() const;
  // The Set-Cookie value that carries the session.
  std::string CookieHeader() const;
  void set_port(int port) { port_ = port; }
  int port() const { return port_; }

  GuardVerdict Judge(const RequestFacts& request);

 private:
  std::string token_;
  std::string session_;
  int port_;
  std::atomic<bool> token_used_{false};
};

// 128 random bits as 32 lowercase hex digits, from the system's random source.
// Throws CliError when there is none.
std::string NewSessionToken();

// Compares in time that does not depend on where the two first differ.
bool SameSecret(const std::string& a, const std::string& b);

}  // namespace trackloom::cli::studio
