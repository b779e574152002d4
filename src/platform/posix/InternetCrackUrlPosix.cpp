// POSIX backend of InternetCrackUrlW: takes a URL apart by position, the
// way the web node reads its endpoint.
#include <algorithm>
#include <array>

#include "platform/HttpClient.h"
#include "rtl/UnicodeString.h"

namespace delvan::platform {

namespace {

struct SchemeEntry {
  std::u16string_view name;
  INTERNET_SCHEME code;
  INTERNET_PORT defaultPort;
  bool hierarchical;  // "//" and an authority follow the colon
};

constexpr std::array<SchemeEntry, 11> kSchemes{{
    {u"ftp", INTERNET_SCHEME_FTP, INTERNET_DEFAULT_FTP_PORT, true},
    {u"gopher", INTERNET_SCHEME_GOPHER, 70, true},
    {u"http", INTERNET_SCHEME_HTTP, INTERNET_DEFAULT_HTTP_PORT, true},
    {u"https", INTERNET_SCHEME_HTTPS, INTERNET_DEFAULT_HTTPS_PORT, true},
    {u"file", INTERNET_SCHEME_FILE, 0, true},
    {u"news", INTERNET_SCHEME_NEWS, 0, false},
    {u"mailto", INTERNET_SCHEME_MAILTO, 0, false},
    {u"socks", INTERNET_SCHEME_SOCKS, 1080, true},
    {u"javascript", INTERNET_SCHEME_JAVASCRIPT, 0, false},
    {u"vbscript", INTERNET_SCHEME_VBSCRIPT, 0, false},
    {u"res", INTERNET_SCHEME_RES, 0, true},
}};

bool IsAsciiAlpha(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
bool IsAsciiDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

struct Part {
  std::size_t pos = 0;
  std::size_t len = 0;
};

// A part is asked for by a non-zero length and a null pointer. A caller
// buffer (non-null pointer) is not supported by this backend.
bool Wanted(const char16_t* ptr, std::uint32_t len, bool& unsupported) {
  if (len != 0 && ptr != nullptr) unsupported = true;
  return len != 0;
}

void Store(const char16_t* text, Part part, const char16_t*& ptr, std::uint32_t& len) {
  ptr = text + part.pos;
  len = static_cast<std::uint32_t>(part.len);
}

}  // namespace

bool InternetCrackUrlW(const char16_t* url, std::uint32_t urlLength, std::uint32_t flags,
                       URL_COMPONENTSW& c) {
  if (!url || flags != 0 || c.dwStructSize != sizeof(URL_COMPONENTSW)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  const std::u16string_view text =
      urlLength ? std::u16string_view(url, urlLength) : std::u16string_view(url);

  bool unsupported = false;
  const bool wantScheme = Wanted(c.lpszScheme, c.dwSchemeLength, unsupported);
  const bool wantHost = Wanted(c.lpszHostName, c.dwHostNameLength, unsupported);
  const bool wantUser = Wanted(c.lpszUserName, c.dwUserNameLength, unsupported);
  const bool wantPassword = Wanted(c.lpszPassword, c.dwPasswordLength, unsupported);
  const bool wantPath = Wanted(c.lpszUrlPath, c.dwUrlPathLength, unsupported);
  const bool wantExtra = Wanted(c.lpszExtraInfo, c.dwExtraInfoLength, unsupported);
  if (unsupported) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }

  // Scheme: a letter, then letters, digits, "+", "-" or ".", up to ":".
  const std::size_t colon = text.find(u':');
  if (colon == std::u16string_view::npos || colon == 0 || !IsAsciiAlpha(text[0]) ||
      !std::all_of(
          text.begin(), text.begin() + static_cast<std::ptrdiff_t>(colon), [](char16_t ch) {
            return IsAsciiAlpha(ch) || IsAsciiDigit(ch) || ch == u'+' || ch == u'-' || ch == u'.';
          })) {
    SetLastError(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
    return false;
  }
  const Part scheme{0, colon};
  const SchemeEntry* entry = nullptr;
  for (const SchemeEntry& e : kSchemes)
    if (rtl::SameTextAscii(e.name, text.substr(0, colon))) entry = &e;

  Part host{colon + 1, 0}, user{colon + 1, 0}, password{colon + 1, 0};
  INTERNET_PORT port = entry ? entry->defaultPort : 0;
  std::size_t rest = colon + 1;  // start of the path

  const bool hasAuthority = text.substr(colon + 1, 2) == u"//";
  if (entry && entry->hierarchical && !hasAuthority) {
    SetLastError(ERROR_INTERNET_INVALID_URL);
    return false;
  }
  if (hasAuthority) {
    const std::size_t start = colon + 3;
    std::size_t end = text.find_first_of(u"/?#", start);
    if (end == std::u16string_view::npos) end = text.size();
    std::size_t hostStart = start;
    // User information ends at the last "@" of the authority.
    const std::u16string_view authority = text.substr(start, end - start);
    if (const std::size_t at = authority.rfind(u'@'); at != std::u16string_view::npos) {
      const std::u16string_view info = authority.substr(0, at);
      const std::size_t sep = info.find(u':');
      user = {start, sep == std::u16string_view::npos ? info.size() : sep};
      if (sep != std::u16string_view::npos) password = {start + sep + 1, info.size() - sep - 1};
      hostStart = start + at + 1;
    }
    std::size_t hostEnd = end;
    std::size_t portStart = std::u16string_view::npos;
    if (hostStart < end && text[hostStart] == u'[') {
      const std::size_t close = text.find(u']', hostStart);
      if (close == std::u16string_view::npos || close >= end) {
        SetLastError(ERROR_INTERNET_INVALID_URL);
        return false;
      }
      host = {hostStart + 1, close - hostStart - 1};
      hostEnd = close + 1;
      if (hostEnd < end) {
        if (text[hostEnd] != u':') {
          SetLastError(ERROR_INTERNET_INVALID_URL);
          return false;
        }
        portStart = hostEnd + 1;
      }
    } else {
      const std::size_t sep = text.substr(hostStart, end - hostStart).find(u':');
      if (sep != std::u16string_view::npos) {
        hostEnd = hostStart + sep;
        portStart = hostEnd + 1;
      }
      host = {hostStart, hostEnd - hostStart};
    }
    if (portStart != std::u16string_view::npos && portStart < end) {
      std::uint32_t value = 0;
      for (std::size_t i = portStart; i < end; ++i) {
        if (!IsAsciiDigit(text[i]) || (value = value * 10 + (text[i] - u'0')) > 65535) {
          SetLastError(ERROR_INTERNET_INVALID_URL);
          return false;
        }
      }
      if (value == 0) {
        SetLastError(ERROR_INTERNET_INVALID_URL);
        return false;
      }
      port = static_cast<INTERNET_PORT>(value);
    }
    if (host.len == 0 && entry && entry->code != INTERNET_SCHEME_FILE) {
      SetLastError(ERROR_INTERNET_INVALID_URL);
      return false;
    }
    rest = end;
  }

  // Without a separate extra-information part the path keeps "?..." and
  // "#...".
  Part path{rest, text.size() - rest};
  Part extra{text.size(), 0};
  if (wantExtra) {
    const std::size_t q = text.find_first_of(u"?#", rest);
    if (q != std::u16string_view::npos) {
      path.len = q - rest;
      extra = {q, text.size() - q};
    }
  }

  const char16_t* base = text.data();
  c.nScheme = entry ? entry->code : INTERNET_SCHEME_UNKNOWN;
  c.nPort = port;
  if (wantScheme) Store(base, scheme, c.lpszScheme, c.dwSchemeLength);
  if (wantHost) Store(base, host, c.lpszHostName, c.dwHostNameLength);
  if (wantUser) Store(base, user, c.lpszUserName, c.dwUserNameLength);
  if (wantPassword) Store(base, password, c.lpszPassword, c.dwPasswordLength);
  if (wantPath) Store(base, path, c.lpszUrlPath, c.dwUrlPathLength);
  if (wantExtra) Store(base, extra, c.lpszExtraInfo, c.dwExtraInfoLength);
  return true;
}

}  // namespace delvan::platform
