#include "cli/studio/request_guard.h"

#include <cstdio>
#include <fstream>

#include "cli/common/cli_error.h"

namespace trackloom::cli::studio {

namespace {

bool IsOwnHost(const std::string& host, int port) {
  const std::string p = ":" + std::to_string(port);
  return host == "127.0.0.1" + p || host == "localhost" + p;
}

bool IsOwnOrigin(const std::string& origin, int port) {
  const std::string p = ":" + std::to_string(port);
  return origin == "http://127.0.0.1" + p || origin == "http://localhost" + p;
}

// The value of name=value in a Cookie header ("a=1; b=2").
std::string CookieValue(const std::string& header, const std::string& name) {
  size_t at = 0;
  while (at < header.size()) {
    while (at < header.size() && (header[at] == ' ' || header[at] == ';')) ++at;
    const size_t end = std::min(header.find(';', at), header.size());
    const std::string pair = header.substr(at, end - at);
    const size_t eq = pair.find('=');
    if (eq != std::string::npos && pair.substr(0, eq) == name) return pair.substr(eq + 1);
    at = end;
  }
  return "";
}

}  // namespace

bool SameSecret(const std::string& a, const std::string& b) {
  if (a.size() != b.size() || a.empty()) return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

SessionKeys::SessionKeys(int port)
    : token_(NewSessionToken()), session_(NewSessionToken()), port_(port) {}

std::string SessionKeys::CookieName() const { return "trackloom_session_" + std::to_string(port_); }

std::string SessionKeys::CookieHeader() const {
  return CookieName() + "=" + session_ + "; Path=/; HttpOnly; SameSite=Strict";
}

GuardVerdict SessionKeys::Judge(const RequestFacts& request) {
  if (!IsOwnHost(request.host, port_)) return GuardVerdict::kRefuse;
  const bool reads = request.method == "GET" || request.method == "HEAD";
  // The key comes from the launcher page the studio wrote for its user (a file, so
  // another site to the browser) or from the address typed: it is the secret itself,
  // good once, and what it is exchanged for goes on only from our own page.
  if (reads && request.path == "/" && !request.token.empty() && SameSecret(request.token, token_) &&
      !token_used_.exchange(true))
    return GuardVerdict::kExchangeToken;
  // Another page, even one on another port of this machine, never gets an answer.
  if (request.has_fetch_site && request.fetch_site != "same-origin" && request.fetch_site != "none")
    return GuardVerdict::kRefuse;
  // Browsers send Origin with every write; a write without it comes from no page of
  // ours either.
  if (!reads && (!request.has_origin || !IsOwnOrigin(request.origin, port_)))
    return GuardVerdict::kRefuse;
  if (request.has_origin && !IsOwnOrigin(request.origin, port_)) return GuardVerdict::kRefuse;
  if (SameSecret(CookieValue(request.cookie, CookieName()), session_)) {
    // Data goes only to what the page itself asks for: a picture or video element of
    // another page sends the cookie too, but not as same-origin, and cannot add headers.
    const bool data = request.path.rfind("/api/", 0) == 0;
    if (reads && data && request.fetch_site != "same-origin" && !request.from_page)
      return GuardVerdict::kRefuse;
    return GuardVerdict::kAllow;
  }
  return GuardVerdict::kRefuse;
}

std::string NewSessionToken() {
  unsigned char bytes[16];
  std::ifstream random("/dev/urandom", std::ios::binary);
  if (!random.read(reinterpret_cast<char*>(bytes), sizeof bytes))
    throw CliError("cannot read the system's random source /dev/urandom for the session's key");
  std::string hex;
  for (const unsigned char b : bytes) {
    char two[3];
    std::snprintf(two, sizeof two, "%02x", b);
    hex += two;
  }
  return hex;
}

}  // namespace trackloom::cli::studio
