// What every request to the studio's server must show before it is routed. The
// server listens on the loopback interface only, but any web page the user opens
// can still send requests there, and a name the user's DNS points at 127.0.0.1 can
// read the answers: so a request must name the server as its Host (DNS rebinding),
// a write must come from the page itself (Origin), and all of them must carry the
// session's cookie, got once by the address the command opened with its token.
#pragma once

#include <string>

namespace trackloom::cli {

// The facts of a request the guard judges, taken from its headers and target.
struct RequestFacts {
  std::string method;
  std::string host;    // the Host header
  std::string origin;  // the Origin header, or empty
  bool has_origin = false;
  std::string cookie;  // the Cookie header, or empty
  std::string token;   // the "token" query parameter, or empty
};

enum class GuardVerdict {
  kAllow,          // route it
  kExchangeToken,  // the address with the token: set the cookie and redirect
  kRefuse,         // 403
};

// port: the one the server listens on; token: the session's secret.
GuardVerdict JudgeRequest(const RequestFacts& request, const std::string& token, int port);

// The cookie's name and the Set-Cookie value that carries the token.
inline constexpr char kSessionCookie[] = "trackloom_session";
std::string SessionCookieHeader(const std::string& token);

// 128 random bits as 32 lowercase hex digits, from the system's random source.
// Throws CliError when there is none.
std::string NewSessionToken();

// Compares in time that does not depend on where the two first differ.
bool SameSecret(const std::string& a, const std::string& b);

}  // namespace trackloom::cli
