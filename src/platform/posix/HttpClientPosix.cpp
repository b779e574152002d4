// POSIX backend of the HTTP client services over libcurl (multi interface)
// with OpenSSL.
//
// A connection handle owns one curl multi handle per TLS policy; the multi
// handle's connection cache is where kept-alive connections live, so the
// requests of one connection handle reuse them and a new connection handle
// opens its own. A request handle owns one curl easy handle. TLS sessions
// are kept process-wide in one curl share object, for connections that
// verify their server fully and present no client certificate. Everything
// runs on the calling thread: each call drives the transfer until what it
// waits for has arrived, bounded by the time-outs.
#include <curl/curl.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/CodePage.h"
#include "platform/HttpClient.h"
#include "platform/posix/CertStorePosix.h"
#include "platform/posix/HttpClientState.h"
#include "rtl/UnicodeString.h"

namespace delvan::platform {

namespace posix {
HttpTestOverrides& TestOverrides() {
  static HttpTestOverrides overrides;
  return overrides;
}
}  // namespace posix

namespace curlhttp {

using Clock = std::chrono::steady_clock;

thread_local std::uint32_t t_lastError = ERROR_SUCCESS;

bool Fail(std::uint32_t code) {
  t_lastError = code;
  return false;
}

HINTERNET FailNull(std::uint32_t code) {
  t_lastError = code;
  return nullptr;
}

std::string Utf8(std::u16string_view text) { return WideCharToMultiByte(CP_UTF8, 0, text); }

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameAscii(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return AsciiLower(x) == AsciiLower(y);
         });
}

std::string_view TrimSpaces(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() &&
         (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
    s.remove_suffix(1);
  return s;
}

// The largest count InternetQueryDataAvailable reports at once, so that a
// caller sizing its buffer by it reads in bounded pieces.
constexpr std::uint32_t kMaxAvailableChunk = 64 * 1024;

// ------------------------------------------------------------ process state

// libcurl's global set-up and the share object that holds TLS sessions for
// every connection of the process, with the locks curl asks for.
class CurlProcess {
 public:
  static CurlProcess& Get() {
    static CurlProcess process;
    return process;
  }
  CURLSH* Share() const { return FShare; }

 private:
  CurlProcess() {
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) return;
    FGlobal = true;
    FShare = curl_share_init();
    if (!FShare) return;
    curl_share_setopt(FShare, CURLSHOPT_LOCKFUNC, &CurlProcess::Lock);
    curl_share_setopt(FShare, CURLSHOPT_UNLOCKFUNC, &CurlProcess::Unlock);
    curl_share_setopt(FShare, CURLSHOPT_USERDATA, this);
    curl_share_setopt(FShare, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
  }
  ~CurlProcess() {
    if (FShare) curl_share_cleanup(FShare);
    if (FGlobal) curl_global_cleanup();
  }
  static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
    static_cast<CurlProcess*>(self)->FLocks[static_cast<std::size_t>(data)].lock();
  }
  static void Unlock(CURL*, curl_lock_data data, void* self) {
    static_cast<CurlProcess*>(self)->FLocks[static_cast<std::size_t>(data)].unlock();
  }

  std::array<std::mutex, CURL_LOCK_DATA_LAST> FLocks;
  CURLSH* FShare = nullptr;
  bool FGlobal = false;
};

// ------------------------------------------------------------ proxies

bool GlobMatch(std::string_view pattern, std::string_view text) {
  std::size_t p = 0, t = 0, star = std::string_view::npos, mark = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = t;
    } else if (p < pattern.size() && AsciiLower(pattern[p]) == AsciiLower(text[t])) {
      ++p;
      ++t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::vector<std::string> SplitList(std::string_view list) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while (i < list.size()) {
    while (i < list.size() && (list[i] == ' ' || list[i] == ';' || list[i] == '\t')) ++i;
    std::size_t j = i;
    while (j < list.size() && list[j] != ' ' && list[j] != ';' && list[j] != '\t') ++j;
    if (j > i) out.emplace_back(list.substr(i, j - i));
    i = j;
  }
  return out;
}

// The proxy choice of a root handle. PRECONFIG means a direct connection:
// on POSIX the only system-wide proxy settings are environment variables,
// and the library takes no traffic routing from the environment.
struct ProxySettings {
  std::vector<std::pair<std::string, std::string>> entries;  // scheme ("" any) -> proxy URL
  std::vector<std::string> bypass;

  bool Bypassed(std::string_view host) const {
    for (const std::string& pattern : bypass) {
      if (SameAscii(pattern, "<local>")) {
        if (host.find('.') == std::string_view::npos && host.find(':') == std::string_view::npos)
          return true;
      } else if (GlobMatch(pattern, host)) {
        return true;
      }
    }
    return false;
  }

  // The proxy URL for a request, or "" for a direct connection.
  std::string For(std::string_view scheme, std::string_view host) const {
    if (entries.empty() || Bypassed(host)) return {};
    for (std::string_view wanted : {scheme, std::string_view{}, std::string_view{"socks"}})
      for (const auto& [s, url] : entries)
        if (s == wanted) return url;
    return {};
  }

  static std::optional<ProxySettings> Parse(std::string_view list, std::string_view bypassList) {
    ProxySettings settings;
    for (const std::string& item : SplitList(list)) {
      std::string scheme, address = item;
      if (const std::size_t eq = item.find('='); eq != std::string::npos) {
        scheme = item.substr(0, eq);
        std::transform(scheme.begin(), scheme.end(), scheme.begin(), AsciiLower);
        address = item.substr(eq + 1);
      }
      if (address.empty()) return std::nullopt;
      if (address.find("://") == std::string::npos)
        address = (scheme == "socks" ? "socks4://" : "http://") + address;
      settings.entries.emplace_back(scheme, address);
    }
    if (settings.entries.empty()) return std::nullopt;
    settings.bypass = SplitList(bypassList);
    return settings;
  }
};

// ------------------------------------------------------------ handle state

struct Timeouts {
  std::uint32_t connect = 0;
  std::uint32_t send = 0;
  std::uint32_t receive = 0;
};

struct RootState {
  std::string agent;
  ProxySettings proxy;
};

struct ConnectState {
  std::shared_ptr<const RootState> root;
  std::string host;
  INTERNET_PORT port = 0;
  std::string user;
  std::string password;
  std::map<std::string, CURLM*> multis;  // by TLS policy

  ConnectState() = default;
  ConnectState(const ConnectState&) = delete;
  ConnectState& operator=(const ConnectState&) = delete;
  // Closes the kept-alive connections; every request is gone by now, as
  // each holds this state alive.
  ~ConnectState() {
    for (auto& entry : multis) curl_multi_cleanup(entry.second);
  }

  CURLM* MultiFor(const std::string& policy) {
    auto [it, added] = multis.try_emplace(policy, nullptr);
    if (added) it->second = curl_multi_init();
    return it->second;
  }
};

// What a connection checks of its server and presents to it. Shared by the
// request and the OpenSSL context of its connection, which may outlive the
// request in the connection cache.
struct TlsPolicy {
  std::uint32_t ignore = 0;  // SECURITY_FLAG_IGNORE_*
  UniqueCertContext clientCert;
  std::vector<std::string> extraAuthorities;
  std::atomic<bool> clientCertRequested{false};
  std::atomic<int> certError{X509_V_OK};  // the first verification error not ignored
};

struct HeaderLine {
  std::string name;
  std::string rest;  // everything after the colon, as given
};

struct ResponseHeader {
  std::string name;
  std::string value;
};

enum class Phase { Idle, Writing, Responded, Failed };

struct Request {
  std::shared_ptr<ConnectState> connect;
  std::string verb;
  std::string path;
  std::string accept;
  std::string referrer;
  bool http10 = false;
  std::uint32_t flags = 0;
  std::vector<HeaderLine> headers;
  std::uint32_t securityFlags = 0;  // set through INTERNET_OPTION_SECURITY_FLAGS
  UniqueCertContext clientCert;
  std::optional<std::uint32_t> pickCertificate;

  // The transfer.
  CURL* easy = nullptr;
  CURLM* multi = nullptr;  // while the easy handle is added to it
  curl_slist* headerList = nullptr;
  curl_slist* connectTo = nullptr;
  std::shared_ptr<TlsPolicy> tls;
  std::string url;
  std::string proxyUrl;
  std::string body;  // copy of a single-piece body
  bool streaming = false;
  std::uint64_t total = 0;  // body length
  std::uint64_t fed = 0;    // bytes handed to curl
  const char* pending = nullptr;
  std::size_t pendingLength = 0;
  bool readPaused = false;
  bool readCalled = false;
  Phase phase = Phase::Idle;
  bool connected = false;
  bool done = false;
  bool timedOut = false;
  CURLcode result = CURLE_OK;
  Clock::time_point lastProgress;
  Clock::time_point deadline;  // of the whole exchange, set when it starts
  curl_off_t lastUl = 0;
  curl_off_t lastDl = 0;
  curl_off_t ulNow = 0;
  std::uint32_t connectTimeout = kDefaultConnectTimeoutMs;
  std::uint32_t sendTimeout = kDefaultSendTimeoutMs;
  std::uint32_t receiveTimeout = kDefaultReceiveTimeoutMs;

  // The response.
  int status = 0;
  std::string version;
  std::string statusText;
  std::vector<ResponseHeader> responseHeaders;
  std::string rawHeaders;
  bool headersDone = false;
  std::optional<std::uint64_t> contentLength;
  std::string bodyBuffer;
  std::size_t bodyPos = 0;
  std::uint64_t bodyReceived = 0;
  bool tooLarge = false;
  char errorBuffer[CURL_ERROR_SIZE] = {};

  Request() = default;
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;
  ~Request() {
    Detach();
    if (easy) curl_easy_cleanup(easy);
    curl_slist_free_all(headerList);
    curl_slist_free_all(connectTo);
  }

  // Takes the transfer out of its multi handle. An unfinished transfer's
  // connection is closed by curl, so a half-read answer is never reused.
  void Detach() {
    if (multi && easy) curl_multi_remove_handle(multi, easy);
    multi = nullptr;
  }

  bool Secure() const { return (flags & INTERNET_FLAG_SECURE) != 0; }
  std::uint32_t IgnoreFlags() const {
    return (securityFlags | (flags & (INTERNET_FLAG_IGNORE_CERT_CN_INVALID |
                                      INTERNET_FLAG_IGNORE_CERT_DATE_INVALID))) &
           (SECURITY_FLAG_IGNORE_REVOCATION | SECURITY_FLAG_IGNORE_UNKNOWN_CA |
            SECURITY_FLAG_IGNORE_WRONG_USAGE | SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
            SECURITY_FLAG_IGNORE_CERT_DATE_INVALID);
  }
  bool FinalHeaders() const {
    // After a 401 curl may answer the challenge with the connection's
    // credentials; the answer to that comes next.
    const bool challenge = status == 401 && !connect->user.empty();
    return headersDone && status >= 200 && !challenge;
  }
  bool UploadComplete() const { return static_cast<std::uint64_t>(ulNow) >= total; }
  std::size_t Buffered() const { return bodyBuffer.size() - bodyPos; }
};

}  // namespace curlhttp

struct InternetHandle {
  enum class Kind { Root, Connect, Request } kind;
  curlhttp::Timeouts timeouts;
  std::shared_ptr<const curlhttp::RootState> root;
  std::shared_ptr<curlhttp::ConnectState> connect;
  std::unique_ptr<curlhttp::Request> request;
};

namespace curlhttp {

// ------------------------------------------------------------ live handles

// Every call checks its handle here first, so a closed or foreign handle
// fails with ERROR_INVALID_HANDLE instead of being used.
struct HandleRegistry {
  std::mutex lock;
  std::unordered_set<const InternetHandle*> live;
};

HandleRegistry& Handles() {
  static HandleRegistry registry;
  return registry;
}

HINTERNET Register(std::unique_ptr<InternetHandle> handle) {
  HandleRegistry& r = Handles();
  std::lock_guard guard(r.lock);
  r.live.insert(handle.get());
  return handle.release();
}

InternetHandle* Use(HINTERNET handle) {
  HandleRegistry& r = Handles();
  std::lock_guard guard(r.lock);
  if (!handle || !r.live.contains(handle)) {
    Fail(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return handle;
}

InternetHandle* Use(HINTERNET handle, InternetHandle::Kind kind) {
  InternetHandle* h = Use(handle);
  if (h && h->kind != kind) {
    Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    return nullptr;
  }
  return h;
}

Request* UseRequest(HINTERNET handle) {
  InternetHandle* h = Use(handle, InternetHandle::Kind::Request);
  return h ? h->request.get() : nullptr;
}

// ------------------------------------------------------------ header lines

bool ValidHeaderName(std::string_view name) {
  if (name.empty()) return false;
  return std::all_of(name.begin(), name.end(), [](unsigned char c) {
    return c > 0x20 && c < 0x7F && c != ':' && c != '(' && c != ')' && c != ',' && c != '"';
  });
}

// Splits "Name: value" lines separated by CR LF (or LF). False for a line
// without a valid name. Lines go on the wire in UTF-8.
bool ParseHeaderLines(std::u16string_view text, std::vector<HeaderLine>& out) {
  const std::string bytes = Utf8(text);
  std::size_t i = 0;
  while (i < bytes.size()) {
    std::size_t end = bytes.find('\n', i);
    if (end == std::string::npos) end = bytes.size();
    std::string_view line(bytes.data() + i, end - i);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    i = end + 1;
    if (line.empty()) continue;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || !ValidHeaderName(line.substr(0, colon)) ||
        line.find('\r') != std::string_view::npos || line.find('\0') != std::string_view::npos)
      return false;
    out.push_back({std::string(line.substr(0, colon)), std::string(line.substr(colon + 1))});
  }
  return true;
}

// The line as curl takes it: "Name:" with nothing after it would remove the
// header, so an empty value is written "Name;", which curl sends as "Name:".
std::string CurlHeader(const HeaderLine& h) {
  if (TrimSpaces(h.rest).empty()) return h.name + ";";
  return h.name + ":" + h.rest;
}

bool HasHeader(const std::vector<HeaderLine>& lines, std::string_view name) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const HeaderLine& h) { return SameAscii(h.name, name); });
}

// The path as it goes on the wire: UTF-8, bytes outside the visible ASCII
// range and the characters no request target may hold percent-encoded. A
// fragment never travels.
std::string EncodePath(std::u16string_view objectName) {
  std::string path = Utf8(objectName);
  if (const std::size_t hash = path.find('#'); hash != std::string::npos) path.resize(hash);
  std::string out;
  if (path.empty() || (path[0] != '/' && path != "*")) out = "/";
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (unsigned char c : path) {
    if (c <= 0x20 || c >= 0x7F || std::strchr("\"<>\\^`{|}", c)) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

bool ValidHostName(std::string_view host) {
  if (host.empty()) return false;
  return std::all_of(host.begin(), host.end(), [](unsigned char c) {
    return c >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~' || c == ':' ||
           c == '%';
  });
}

// ------------------------------------------------------------ TLS

enum class CertProblem { UnknownAuthority, Date, Revocation, Revoked, Usage, Name, Other };

CertProblem Classify(int error) {
  switch (error) {
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
      return CertProblem::UnknownAuthority;
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
      return CertProblem::Date;
    case X509_V_ERR_UNABLE_TO_GET_CRL:
    case X509_V_ERR_UNABLE_TO_GET_CRL_ISSUER:
    case X509_V_ERR_CRL_NOT_YET_VALID:
    case X509_V_ERR_CRL_HAS_EXPIRED:
    case X509_V_ERR_ERROR_IN_CRL_LAST_UPDATE_FIELD:
    case X509_V_ERR_ERROR_IN_CRL_NEXT_UPDATE_FIELD:
      return CertProblem::Revocation;
    case X509_V_ERR_CERT_REVOKED:
      return CertProblem::Revoked;
    case X509_V_ERR_INVALID_PURPOSE:
      return CertProblem::Usage;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return CertProblem::Name;
    default:
      return CertProblem::Other;
  }
}

bool Ignored(CertProblem problem, std::uint32_t ignore) {
  switch (problem) {
    case CertProblem::UnknownAuthority:
      return ignore & SECURITY_FLAG_IGNORE_UNKNOWN_CA;
    case CertProblem::Date:
      return ignore & SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
    case CertProblem::Revocation:
      return ignore & SECURITY_FLAG_IGNORE_REVOCATION;
    case CertProblem::Usage:
      return ignore & SECURITY_FLAG_IGNORE_WRONG_USAGE;
    case CertProblem::Name:
      return ignore & SECURITY_FLAG_IGNORE_CERT_CN_INVALID;
    default:
      return false;
  }
}

std::uint32_t CertErrorCode(int error) {
  switch (Classify(error)) {
    case CertProblem::UnknownAuthority:
      return ERROR_INTERNET_INVALID_CA;
    case CertProblem::Date:
      return ERROR_INTERNET_SEC_CERT_DATE_INVALID;
    case CertProblem::Revocation:
      return ERROR_INTERNET_SEC_CERT_REV_FAILED;
    case CertProblem::Revoked:
      return ERROR_INTERNET_SEC_CERT_REVOKED;
    case CertProblem::Name:
      return ERROR_INTERNET_SEC_CERT_CN_INVALID;
    default:
      return ERROR_INTERNET_SEC_INVALID_CERT;
  }
}

// The verification store: the default authorities (curl's built-in CA
// file and directory) plus any extra ones, loaded once per process for each
// set of extra authorities and shared by every connection's context.
// Loading the system bundle costs milliseconds of CPU, more than the rest of
// a lookup, so no connection loads it itself (CURLOPT_CAINFO and
// CURLOPT_CAPATH are cleared on the request).
using UniqueStore = std::unique_ptr<X509_STORE, decltype(&X509_STORE_free)>;

class TrustStores {
 public:
  static TrustStores& Get() {
    static TrustStores stores;
    return stores;
  }

  // A counted reference to the store for these extra authorities (PEM
  // texts), built on first use; null when the default authorities cannot be
  // loaded, which is retried by the next connection.
  UniqueStore For(const std::vector<std::string>& extra) {
    std::string key;
    for (const std::string& pem : extra) key.append(pem).push_back('\0');
    std::lock_guard guard(FLock);
    for (auto it = FStores.begin(); it != FStores.end(); ++it) {
      if (it->first != key) continue;
      X509_STORE_up_ref(it->second.get());
      UniqueStore found(it->second.get(), &X509_STORE_free);
      std::rotate(FStores.begin(), it, it + 1);  // most recently used first
      return found;
    }
    UniqueStore store = Build(extra);
    if (!store) return store;
    // Only test builds add authorities, one set per test server; the bound
    // keeps a long test run from holding every store it ever used.
    constexpr std::size_t kKept = 4;
    if (FStores.size() == kKept) FStores.pop_back();
    X509_STORE_up_ref(store.get());
    FStores.emplace(FStores.begin(), std::move(key), UniqueStore(store.get(), &X509_STORE_free));
    return store;
  }

 private:
  TrustStores() {
    if (CURL* e = curl_easy_init()) {
      const char* path = nullptr;
      if (curl_easy_getinfo(e, CURLINFO_CAINFO, &path) == CURLE_OK && path) FFile = path;
      path = nullptr;
      if (curl_easy_getinfo(e, CURLINFO_CAPATH, &path) == CURLE_OK && path) FPath = path;
      curl_easy_cleanup(e);
    }
  }

  UniqueStore Build(const std::vector<std::string>& extra) const {
    UniqueStore store(X509_STORE_new(), &X509_STORE_free);
    if (!store) return store;
    // The flags curl sets on the store it would have loaded itself.
    X509_STORE_set_flags(store.get(), X509_V_FLAG_TRUSTED_FIRST | X509_V_FLAG_PARTIAL_CHAIN);
    if ((!FFile.empty() && X509_STORE_load_file(store.get(), FFile.c_str()) != 1) ||
        (!FPath.empty() && X509_STORE_load_path(store.get(), FPath.c_str()) != 1))
      return UniqueStore(nullptr, &X509_STORE_free);
    for (const std::string& pem : extra) {
      std::unique_ptr<BIO, decltype(&BIO_free)> bio(
          BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), BIO_free);
      while (X509* ca = bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr) {
        X509_STORE_add_cert(store.get(), ca);
        X509_free(ca);
      }
    }
    return store;
  }

  std::mutex FLock;
  std::string FFile;
  std::string FPath;
  std::vector<std::pair<std::string, UniqueStore>> FStores;
};

void FreePolicy(void*, void* ptr, CRYPTO_EX_DATA*, int, long, void*) {
  delete static_cast<std::shared_ptr<TlsPolicy>*>(ptr);
}

int PolicyIndex() {
  static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, &FreePolicy);
  return index;
}

TlsPolicy* PolicyOf(SSL* ssl) {
  if (!ssl) return nullptr;
  auto* holder = static_cast<std::shared_ptr<TlsPolicy>*>(
      SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), PolicyIndex()));
  return holder ? holder->get() : nullptr;
}

// Lets through exactly the problems the request's ignore flags name.
int VerifyCallback(int ok, X509_STORE_CTX* store) {
  if (ok) return 1;
  auto* ssl =
      static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  TlsPolicy* policy = PolicyOf(ssl);
  const int error = X509_STORE_CTX_get_error(store);
  if (policy && Ignored(Classify(error), policy->ignore)) {
    X509_STORE_CTX_set_error(store, X509_V_OK);
    return 1;
  }
  if (policy) {
    int none = X509_V_OK;
    policy->certError.compare_exchange_strong(none, error);
  }
  return 0;
}

// Called when the server asks for a certificate and none is set: notes it,
// so that the failure that follows reads as "client certificate needed".
int ClientCertCallback(SSL* ssl, X509**, EVP_PKEY**) {
  if (TlsPolicy* policy = PolicyOf(ssl)) policy->clientCertRequested = true;
  return 0;
}

CURLcode SslContextCallback(CURL*, void* sslContext, void* user) {
  auto* request = static_cast<Request*>(user);
  auto* ctx = static_cast<SSL_CTX*>(sslContext);
  SSL_CTX_set_ex_data(ctx, PolicyIndex(), new std::shared_ptr<TlsPolicy>(request->tls));
  SSL_CTX_set_verify(ctx, SSL_CTX_get_verify_mode(ctx), &VerifyCallback);
  // A renegotiation would verify again long after the request that set the
  // policy; nothing here needs one.
  SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION);
  const TlsPolicy& policy = *request->tls;
  CURLcode rc = CURLE_OK;
  if (const CertContext* cert = policy.clientCert.get()) {
    if (!cert->key || SSL_CTX_use_certificate(ctx, cert->cert) != 1 ||
        SSL_CTX_use_PrivateKey(ctx, cert->key) != 1 || SSL_CTX_check_private_key(ctx) != 1) {
      rc = CURLE_SSL_CERTPROBLEM;
    }
    for (int i = 0; rc == CURLE_OK && cert->chain && i < sk_X509_num(cert->chain); ++i)
      SSL_CTX_add1_chain_cert(ctx, sk_X509_value(cert->chain, i));
  }
  SSL_CTX_set_client_cert_cb(ctx, &ClientCertCallback);
  if (rc == CURLE_OK) {
    UniqueStore store = TrustStores::Get().For(policy.extraAuthorities);
    if (store)
      SSL_CTX_set1_cert_store(ctx, store.get());  // the context takes its own reference
    else
      rc = CURLE_SSL_CACERT_BADFILE;
  }
  // The end of a PEM text and a certificate already in the store leave
  // errors that curl must not take for its own.
  ERR_clear_error();
  return rc;
}

// ------------------------------------------------------------ callbacks

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* r = static_cast<Request*>(user);
  const std::size_t length = size * count;
  std::string_view line(data, length);
  r->lastProgress = Clock::now();
  if (line.starts_with("HTTP/")) {
    // A new response (an interim one, or the answer to a challenge) starts
    // over: only the final response's headers and body count.
    r->responseHeaders.clear();
    r->rawHeaders.clear();
    r->headersDone = false;
    r->contentLength.reset();
    r->bodyBuffer.clear();
    r->bodyPos = 0;
    r->bodyReceived = 0;
    std::string_view rest = TrimSpaces(line);
    const std::size_t sp = rest.find(' ');
    r->version = std::string(rest.substr(0, sp));
    rest = sp == std::string_view::npos ? std::string_view{} : rest.substr(sp + 1);
    const std::size_t sp2 = rest.find(' ');
    r->status = 0;
    for (char c : rest.substr(0, sp2))
      r->status = (c >= '0' && c <= '9' && r->status < 1000) ? r->status * 10 + (c - '0') : 1000;
    r->statusText =
        sp2 == std::string_view::npos ? std::string{} : std::string(rest.substr(sp2 + 1));
    r->rawHeaders.append(TrimSpaces(line)).append("\r\n");
    return length;
  }
  const std::string_view content = TrimSpaces(line);
  if (content.empty()) {
    r->headersDone = true;
    r->rawHeaders.append("\r\n");
    return length;
  }
  r->rawHeaders.append(content).append("\r\n");
  if ((line[0] == ' ' || line[0] == '\t') && !r->responseHeaders.empty()) {
    r->responseHeaders.back().value.append(" ").append(content);
    return length;
  }
  const std::size_t colon = content.find(':');
  if (colon == std::string_view::npos) return length;
  ResponseHeader h{std::string(TrimSpaces(content.substr(0, colon))),
                   std::string(TrimSpaces(content.substr(colon + 1)))};
  if (SameAscii(h.name, "Content-Length")) {
    std::uint64_t value = 0;
    bool digits = !h.value.empty();
    for (char c : h.value) {
      if (c < '0' || c > '9' || value > (UINT64_MAX - 9) / 10) digits = false;
      if (!digits) break;
      value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (digits) r->contentLength = value;
  }
  r->responseHeaders.push_back(std::move(h));
  return length;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* r = static_cast<Request*>(user);
  const std::size_t length = size * count;
  r->lastProgress = Clock::now();
  r->bodyReceived += length;
  if (r->bodyReceived > kMaxResponseBodySize ||
      (r->contentLength && *r->contentLength > kMaxResponseBodySize)) {
    r->tooLarge = true;
    r->bodyBuffer.clear();
    r->bodyPos = 0;
    return 0;  // ends the transfer
  }
  if (r->bodyPos > 0 && r->bodyPos == r->bodyBuffer.size()) {
    r->bodyBuffer.clear();
    r->bodyPos = 0;
  }
  r->bodyBuffer.append(data, length);
  return length;
}

size_t OnRead(char* buffer, size_t size, size_t count, void* user) {
  auto* r = static_cast<Request*>(user);
  r->readCalled = true;
  if (r->fed >= r->total) return 0;
  if (r->pendingLength == 0) {
    r->readPaused = true;
    return CURL_READFUNC_PAUSE;
  }
  const std::size_t n = std::min(size * count, r->pendingLength);
  std::memcpy(buffer, r->pending, n);
  r->pending += n;
  r->pendingLength -= n;
  r->fed += n;
  return n;
}

int OnProgress(void* user, curl_off_t, curl_off_t dlNow, curl_off_t, curl_off_t ulNow) {
  auto* r = static_cast<Request*>(user);
  if (dlNow != r->lastDl || ulNow != r->lastUl) r->lastProgress = Clock::now();
  r->lastDl = dlNow;
  r->lastUl = ulNow;
  r->ulNow = ulNow;
  return 0;
}

int OnPrerequest(void* user, char*, char*, int, int) {
  auto* r = static_cast<Request*>(user);
  r->connected = true;
  r->lastProgress = Clock::now();
  return CURL_PREREQFUNC_OK;
}

// ------------------------------------------------------------ driving

// Reads the finished transfers of a multi handle into their requests.
void Collect(CURLM* multi) {
  int left = 0;
  while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
    if (msg->msg != CURLMSG_DONE) continue;
    char* owner = nullptr;
    curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, &owner);
    auto* r = reinterpret_cast<Request*>(owner);
    if (!r) continue;
    r->done = true;
    r->result = msg->data.result;
    curl_multi_remove_handle(multi, msg->easy_handle);
    r->multi = nullptr;
  }
}

// Drives the transfer until ready() holds or the transfer ends. Before the
// connection stands, curl's connect time-out bounds the wait; after it, the
// send or receive time-out does, counted from the last progress. The
// exchange's deadline bounds every wait, whatever the progress.
void Pump(Request& r, const std::function<bool()>& ready) {
  r.lastProgress = Clock::now();
  while (!ready() && !r.done && r.multi) {
    CURLM* multi = r.multi;
    int running = 0;
    const CURLMcode mc = curl_multi_perform(multi, &running);
    Collect(multi);
    if (mc != CURLM_OK && !r.done) {
      r.Detach();
      r.done = true;
      r.result = mc == CURLM_OUT_OF_MEMORY ? CURLE_OUT_OF_MEMORY : CURLE_FAILED_INIT;
    }
    if (ready() || r.done) break;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(r.deadline - Clock::now()).count();
    if (left <= 0) {
      r.Detach();
      r.done = true;
      r.timedOut = true;
      r.result = CURLE_OPERATION_TIMEDOUT;
      break;
    }
    int waitMs = static_cast<int>(std::min<std::int64_t>(1000, left));
    if (r.connected) {
      const auto limit =
          std::chrono::milliseconds(r.UploadComplete() ? r.receiveTimeout : r.sendTimeout);
      const auto idle =
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - r.lastProgress);
      if (idle >= limit) {
        r.Detach();
        r.done = true;
        r.timedOut = true;
        r.result = CURLE_OPERATION_TIMEDOUT;
        break;
      }
      waitMs = static_cast<int>(std::min<std::int64_t>(waitMs, (limit - idle).count()));
    }
    curl_multi_poll(multi, nullptr, 0, std::max(waitMs, 1), nullptr);
  }
}

std::uint32_t FailureCode(const Request& r) {
  if (r.tooLarge) return ERROR_HTTP_RESPONSE_TOO_LARGE;
  if (r.timedOut) return ERROR_INTERNET_TIMEOUT;
  const bool certNeeded = r.tls && r.tls->clientCertRequested && !r.tls->clientCert;
  const int certError = r.tls ? r.tls->certError.load() : X509_V_OK;
  long osErrno = 0;
  if (r.easy) curl_easy_getinfo(r.easy, CURLINFO_OS_ERRNO, &osErrno);
  switch (r.result) {
    case CURLE_OK:
      return ERROR_HTTP_INVALID_SERVER_RESPONSE;  // ended without a response
    case CURLE_OPERATION_TIMEDOUT:
      return ERROR_INTERNET_TIMEOUT;
    case CURLE_COULDNT_RESOLVE_HOST:
      return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_PROXY:
      return ERROR_INTERNET_PROXY_SERVER_UNREACHABLE;
    case CURLE_COULDNT_CONNECT:
      return r.proxyUrl.empty() ? ERROR_INTERNET_CANNOT_CONNECT
                                : ERROR_INTERNET_PROXY_SERVER_UNREACHABLE;
    case CURLE_PEER_FAILED_VERIFICATION:
      // Every chain problem passes the verify callback; a chain it let
      // through leaves curl's own host name check.
      return certError == X509_V_OK ? ERROR_INTERNET_SEC_CERT_CN_INVALID : CertErrorCode(certError);
    case CURLE_SSL_CONNECT_ERROR:
      if (certNeeded) return ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED;
      if (certError != X509_V_OK) return CertErrorCode(certError);
      return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    case CURLE_SSL_CERTPROBLEM:
      return ERROR_INTERNET_CLIENT_AUTH_NOT_SETUP;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
      if (certNeeded) return ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED;
      // Over TLS the close that follows a reset may leave EPIPE instead.
      return osErrno == ECONNRESET || osErrno == EPIPE ? ERROR_INTERNET_CONNECTION_RESET
                                                       : ERROR_INTERNET_CONNECTION_ABORTED;
    case CURLE_GOT_NOTHING:   // closed without an answer
    case CURLE_PARTIAL_FILE:  // closed before the announced end of the body
      return ERROR_INTERNET_CONNECTION_ABORTED;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_BAD_CONTENT_ENCODING:
      return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    case CURLE_URL_MALFORMAT:
      return ERROR_INTERNET_INVALID_URL;
    case CURLE_OUT_OF_MEMORY:
      return ERROR_NOT_ENOUGH_MEMORY;
    case CURLE_LOGIN_DENIED:
      return ERROR_INTERNET_LOGIN_FAILURE;
    case CURLE_SEND_FAIL_REWIND:
      // A challenge the streamed body cannot be replayed for: the caller
      // sends the request again.
      return ERROR_INTERNET_FORCE_RETRY;
    default:
      return ERROR_INTERNET_INTERNAL_ERROR;
  }
}

bool FailRequest(Request& r) {
  const std::uint32_t code = FailureCode(r);
  r.Detach();
  r.phase = Phase::Failed;
  return Fail(code);
}

// Sets up the easy handle for one send and adds it to the connection's
// multi handle for the request's TLS policy.
bool Start(const InternetHandle& handle, Request& r, const std::vector<HeaderLine>& extra) {
  CurlProcess& process = CurlProcess::Get();
  if (!process.Share()) return Fail(ERROR_INTERNET_INTERNAL_ERROR);
  r.Detach();
  if (!r.easy) {
    r.easy = curl_easy_init();
    if (!r.easy) return Fail(ERROR_NOT_ENOUGH_MEMORY);
  } else {
    curl_easy_reset(r.easy);
  }
  curl_slist_free_all(r.headerList);
  curl_slist_free_all(r.connectTo);
  r.headerList = r.connectTo = nullptr;

  // The state of the previous send, if any, goes.
  r.phase = Phase::Idle;
  r.fed = 0;
  r.pending = nullptr;
  r.pendingLength = 0;
  r.readPaused = r.readCalled = r.connected = r.done = r.timedOut = false;
  r.result = CURLE_OK;
  r.lastUl = r.lastDl = r.ulNow = 0;
  r.status = 0;
  r.version.clear();
  r.statusText.clear();
  r.responseHeaders.clear();
  r.rawHeaders.clear();
  r.headersDone = false;
  r.contentLength.reset();
  r.bodyBuffer.clear();
  r.bodyPos = 0;
  r.bodyReceived = 0;
  r.tooLarge = false;
  r.errorBuffer[0] = '\0';
  r.connectTimeout = handle.timeouts.connect ? handle.timeouts.connect : kDefaultConnectTimeoutMs;
  r.sendTimeout = handle.timeouts.send ? handle.timeouts.send : kDefaultSendTimeoutMs;
  r.receiveTimeout = handle.timeouts.receive ? handle.timeouts.receive : kDefaultReceiveTimeoutMs;
  r.deadline = Clock::now() +
               std::chrono::milliseconds(ResponseDeadlineMs(r.connectTimeout, r.receiveTimeout));

  const ConnectState& conn = *r.connect;
  auto tls = std::make_shared<TlsPolicy>();
  tls->ignore = r.IgnoreFlags();
  if (r.clientCert) {
    tls->clientCert.reset(CertDuplicateCertificateContext(r.clientCert.get()));
  } else if (r.pickCertificate) {
    std::vector<PCCERT_CONTEXT> certs = posix::PersonalCertificatesWithKey();
    for (std::size_t i = 0; i < certs.size(); ++i) {
      if (i == *r.pickCertificate)
        tls->clientCert.reset(certs[i]);
      else
        CertFreeCertificateContext(certs[i]);
    }
  }
  {
    posix::HttpTestOverrides& o = posix::TestOverrides();
    std::lock_guard guard(o.lock);
    tls->extraAuthorities = o.extraAuthorities;
    for (const std::string& entry : o.connectTo)
      r.connectTo = curl_slist_append(r.connectTo, entry.c_str());
  }
  r.tls = tls;
  // Connections made under one policy are reused only under the same one,
  // and only fully verified ones without client certificate share sessions.
  const bool strict = tls->ignore == 0 && !tls->clientCert;
  const std::string policyKey =
      std::to_string(tls->ignore) + "/" +
      std::to_string(reinterpret_cast<std::uintptr_t>(tls->clientCert.get()));
  CURLM* multi = r.connect->MultiFor(policyKey);
  if (!multi) return Fail(ERROR_NOT_ENOUGH_MEMORY);

  const std::string scheme = r.Secure() ? "https" : "http";
  const INTERNET_PORT port = conn.port    ? conn.port
                             : r.Secure() ? INTERNET_DEFAULT_HTTPS_PORT
                                          : INTERNET_DEFAULT_HTTP_PORT;
  const std::string host =
      conn.host.find(':') != std::string::npos ? "[" + conn.host + "]" : conn.host;
  r.url = scheme + "://" + host + ":" + std::to_string(port) + r.path;
  r.proxyUrl = conn.root->proxy.For(scheme, conn.host);

  for (const HeaderLine& h : r.headers)
    r.headerList = curl_slist_append(r.headerList, CurlHeader(h).c_str());
  for (const HeaderLine& h : extra)
    r.headerList = curl_slist_append(r.headerList, CurlHeader(h).c_str());
  if (!r.referrer.empty())
    r.headerList = curl_slist_append(r.headerList, ("Referer: " + r.referrer).c_str());
  // Nothing is sent that the caller did not ask for: no Accept, no Expect,
  // no form content type of curl's own.
  r.headerList = curl_slist_append(r.headerList,
                                   r.accept.empty() ? "Accept:" : ("Accept: " + r.accept).c_str());
  r.headerList = curl_slist_append(r.headerList, "Expect:");
  if (!HasHeader(r.headers, "Content-Type") && !HasHeader(extra, "Content-Type"))
    r.headerList = curl_slist_append(r.headerList, "Content-Type:");

  CURL* e = r.easy;
  CURLcode rc = CURLE_OK;
  auto set = [&](CURLoption option, auto value) {
    if (rc == CURLE_OK) rc = curl_easy_setopt(e, option, value);
  };
  set(CURLOPT_PRIVATE, static_cast<void*>(&r));
  set(CURLOPT_ERRORBUFFER, r.errorBuffer);
  set(CURLOPT_URL, r.url.c_str());
  set(CURLOPT_PROTOCOLS_STR, "http,https");
  set(CURLOPT_HTTP_VERSION,
      static_cast<long>(r.http10 ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1));
  set(CURLOPT_PATH_AS_IS, 1L);
  set(CURLOPT_FOLLOWLOCATION, 0L);         // a redirect is the caller's to judge, never followed
  set(CURLOPT_PROXY, r.proxyUrl.c_str());  // "" also keeps curl from reading proxy variables
  set(CURLOPT_NOPROXY, "");
  set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  if (!conn.root->agent.empty()) set(CURLOPT_USERAGENT, conn.root->agent.c_str());
  set(CURLOPT_HTTPHEADER, r.headerList);
  // Credentials answer a server's challenge; they are not sent before one.
  if (!conn.user.empty()) {
    set(CURLOPT_USERNAME, conn.user.c_str());
    set(CURLOPT_PASSWORD, conn.password.c_str());
    set(CURLOPT_HTTPAUTH, static_cast<unsigned long>(CURLAUTH_ANY));
  }
  set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(r.connectTimeout));
  set(CURLOPT_SSL_VERIFYPEER, 1L);
  set(CURLOPT_SSL_VERIFYHOST, (tls->ignore & SECURITY_FLAG_IGNORE_CERT_CN_INVALID) ? 0L : 2L);
  // The context callback installs the process's shared store instead.
  set(CURLOPT_CAINFO, static_cast<const char*>(nullptr));
  set(CURLOPT_CAPATH, static_cast<const char*>(nullptr));
  set(CURLOPT_SSL_CTX_FUNCTION, &SslContextCallback);
  set(CURLOPT_SSL_CTX_DATA, static_cast<void*>(&r));
  set(CURLOPT_SSL_SESSIONID_CACHE, strict ? 1L : 0L);
  set(CURLOPT_SHARE, process.Share());
  if (r.connectTo) set(CURLOPT_CONNECT_TO, r.connectTo);
  // Without INTERNET_FLAG_KEEP_CONNECTION the connection closes after the
  // request.
  set(CURLOPT_FORBID_REUSE, (r.flags & INTERNET_FLAG_KEEP_CONNECTION) ? 0L : 1L);
  // CURLOPT_NOSIGNAL stays off: curl then keeps SIGPIPE from the host while
  // it writes to a connection the server has closed.
  set(CURLOPT_HEADERFUNCTION, &OnHeader);
  set(CURLOPT_HEADERDATA, static_cast<void*>(&r));
  set(CURLOPT_WRITEFUNCTION, &OnBody);
  set(CURLOPT_WRITEDATA, static_cast<void*>(&r));
  set(CURLOPT_NOPROGRESS, 0L);
  set(CURLOPT_XFERINFOFUNCTION, &OnProgress);
  set(CURLOPT_XFERINFODATA, static_cast<void*>(&r));
  set(CURLOPT_PREREQFUNCTION, &OnPrerequest);
  set(CURLOPT_PREREQDATA, static_cast<void*>(&r));

  const bool hasBody = r.streaming || !r.body.empty() || r.verb == "POST" || r.verb == "PUT";
  if (r.verb == "HEAD") {
    set(CURLOPT_NOBODY, 1L);
  } else if (!hasBody && r.verb == "GET") {
    set(CURLOPT_HTTPGET, 1L);
  } else {
    set(CURLOPT_POST, 1L);
    if (r.verb != "POST") set(CURLOPT_CUSTOMREQUEST, r.verb.c_str());
    set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(r.total));
    if (r.streaming) {
      set(CURLOPT_READFUNCTION, &OnRead);
      set(CURLOPT_READDATA, static_cast<void*>(&r));
    } else {
      set(CURLOPT_POSTFIELDS, r.body.data());
    }
  }
  if (rc != CURLE_OK)
    return Fail(rc == CURLE_OUT_OF_MEMORY ? ERROR_NOT_ENOUGH_MEMORY
                                          : ERROR_INTERNET_INTERNAL_ERROR);
  if (curl_multi_add_handle(multi, e) != CURLM_OK) return Fail(ERROR_INTERNET_INTERNAL_ERROR);
  r.multi = multi;
  return true;
}

// Waits for the final response headers. A challenge that curl did not
// answer is the final response too.
bool AwaitResponse(Request& r) {
  Pump(r, [&] { return r.FinalHeaders(); });
  const bool unanswered = r.done && r.result == CURLE_OK && r.headersDone && r.status >= 200;
  if (!r.FinalHeaders() && !unanswered) return FailRequest(r);
  r.phase = Phase::Responded;
  return true;
}

// Waits until body bytes are buffered or the transfer has ended.
bool AwaitBody(Request& r) {
  if (r.phase != Phase::Responded) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
  if (r.contentLength && *r.contentLength > kMaxResponseBodySize) r.tooLarge = true;
  if (!r.tooLarge && r.Buffered() == 0 && !r.done)
    Pump(r, [&] { return r.Buffered() > 0 || r.tooLarge; });
  if (r.tooLarge) {
    r.bodyBuffer.clear();
    r.bodyPos = 0;
    r.Detach();
    return Fail(ERROR_HTTP_RESPONSE_TOO_LARGE);
  }
  if (r.Buffered() == 0 && r.done && r.result != CURLE_OK) return Fail(FailureCode(r));
  if (r.Buffered() == 0 && !r.done) return Fail(ERROR_INTERNET_INTERNAL_ERROR);
  return true;
}

bool PutNumber(std::uint32_t value, void* buffer, std::uint32_t& length) {
  if (!buffer || length < sizeof value) {
    length = sizeof value;
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(buffer, &value, sizeof value);
  length = sizeof value;
  return true;
}

bool PutText(std::u16string_view text, void* buffer, std::uint32_t& length) {
  const std::size_t need = (text.size() + 1) * sizeof(char16_t);
  if (!buffer || length < need) {
    length = static_cast<std::uint32_t>(need);
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(buffer, text.data(), text.size() * sizeof(char16_t));
  static_cast<char16_t*>(buffer)[text.size()] = u'\0';
  length = static_cast<std::uint32_t>(text.size() * sizeof(char16_t));
  return true;
}

// A header value, a status text: bytes as they came, each taken as one
// Latin-1 character.
UnicodeString Widen(std::string_view bytes) { return rtl::AsciiToUnicode(bytes); }

}  // namespace curlhttp

// ================================================================ calls

using namespace curlhttp;

std::uint32_t GetLastError() { return t_lastError; }
void SetLastError(std::uint32_t code) { t_lastError = code; }

std::uint32_t InternetAttemptConnect(std::uint32_t) { return ERROR_SUCCESS; }

HINTERNET InternetOpenW(std::u16string_view agent, std::uint32_t accessType,
                        std::u16string_view proxy, std::u16string_view proxyBypass,
                        std::uint32_t flags) {
  constexpr std::uint32_t kAsync = 0x10000000u;  // INTERNET_FLAG_ASYNC: not offered
  if (flags & kAsync) return FailNull(ERROR_INVALID_PARAMETER);
  if (!CurlProcess::Get().Share()) return FailNull(ERROR_INTERNET_INTERNAL_ERROR);
  auto root = std::make_shared<RootState>();
  root->agent = Utf8(agent);
  switch (accessType) {
    case INTERNET_OPEN_TYPE_PRECONFIG:
    case INTERNET_OPEN_TYPE_DIRECT:
    case INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY:
      break;
    case INTERNET_OPEN_TYPE_PROXY: {
      std::optional<ProxySettings> settings = ProxySettings::Parse(Utf8(proxy), Utf8(proxyBypass));
      if (!settings) return FailNull(ERROR_INVALID_PARAMETER);
      root->proxy = std::move(*settings);
      break;
    }
    default:
      return FailNull(ERROR_INVALID_PARAMETER);
  }
  auto handle = std::make_unique<InternetHandle>();
  handle->kind = InternetHandle::Kind::Root;
  handle->root = std::move(root);
  return Register(std::move(handle));
}

HINTERNET InternetConnectW(HINTERNET root, std::u16string_view serverName, INTERNET_PORT serverPort,
                           std::u16string_view userName, std::u16string_view password,
                           std::uint32_t service, std::uint32_t, std::uintptr_t) {
  InternetHandle* parent = Use(root, InternetHandle::Kind::Root);
  if (!parent) return nullptr;
  if (service != INTERNET_SERVICE_HTTP) return FailNull(ERROR_INVALID_PARAMETER);
  std::string host = Utf8(serverName);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  if (!ValidHostName(host)) return FailNull(ERROR_INTERNET_INVALID_URL);
  auto conn = std::make_shared<ConnectState>();
  conn->root = parent->root;
  conn->host = std::move(host);
  conn->port = serverPort;
  conn->user = Utf8(userName);
  conn->password = Utf8(password);
  auto handle = std::make_unique<InternetHandle>();
  handle->kind = InternetHandle::Kind::Connect;
  handle->timeouts = parent->timeouts;
  handle->root = parent->root;
  handle->connect = std::move(conn);
  return Register(std::move(handle));
}

HINTERNET HttpOpenRequestW(HINTERNET connect, std::u16string_view verb,
                           std::u16string_view objectName, std::u16string_view version,
                           std::u16string_view referrer, const char16_t* const* acceptTypes,
                           std::uint32_t flags, std::uintptr_t) {
  InternetHandle* parent = Use(connect, InternetHandle::Kind::Connect);
  if (!parent) return nullptr;
  auto request = std::make_unique<Request>();
  request->connect = parent->connect;
  request->verb = verb.empty() ? std::string("GET") : Utf8(verb);
  if (!ValidHeaderName(request->verb)) return FailNull(ERROR_INVALID_PARAMETER);
  request->path = EncodePath(objectName);
  if (version.empty() || version == u"HTTP/1.1")
    request->http10 = false;
  else if (version == u"HTTP/1.0")
    request->http10 = true;
  else
    return FailNull(ERROR_INVALID_PARAMETER);
  request->referrer = Utf8(referrer);
  if (request->referrer.find_first_of("\r\n") != std::string::npos)
    return FailNull(ERROR_INVALID_PARAMETER);
  for (const char16_t* const* type = acceptTypes; type && *type; ++type) {
    const std::string t = Utf8(*type);
    if (t.find_first_of("\r\n") != std::string::npos) return FailNull(ERROR_INVALID_PARAMETER);
    request->accept += (request->accept.empty() ? "" : ", ") + t;
  }
  request->flags = flags;
  auto handle = std::make_unique<InternetHandle>();
  handle->kind = InternetHandle::Kind::Request;
  handle->timeouts = parent->timeouts;
  handle->root = parent->root;
  handle->connect = parent->connect;
  handle->request = std::move(request);
  return Register(std::move(handle));
}

bool InternetSetOptionW(HINTERNET handle, std::uint32_t option, const void* buffer,
                        std::uint32_t bufferLength) {
  InternetHandle* h = Use(handle);
  if (!h) return false;
  auto value4 = [&](std::uint32_t& out) {
    if (!buffer) return Fail(ERROR_INVALID_PARAMETER);
    if (bufferLength != sizeof(std::uint32_t)) return Fail(ERROR_INTERNET_BAD_OPTION_LENGTH);
    std::memcpy(&out, buffer, sizeof out);
    return true;
  };
  switch (option) {
    case INTERNET_OPTION_CONNECT_TIMEOUT:
      return value4(h->timeouts.connect);
    case INTERNET_OPTION_SEND_TIMEOUT:
    case INTERNET_OPTION_DATA_SEND_TIMEOUT:
      return value4(h->timeouts.send);
    case INTERNET_OPTION_RECEIVE_TIMEOUT:
    case INTERNET_OPTION_DATA_RECEIVE_TIMEOUT:
      return value4(h->timeouts.receive);
    case INTERNET_OPTION_SECURITY_FLAGS: {
      if (!h->request) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
      std::uint32_t flags = 0;
      if (!value4(flags)) return false;
      h->request->securityFlags = flags & ~SECURITY_FLAG_SECURE;
      return true;
    }
    case INTERNET_OPTION_SECURITY_SELECT_CLIENT_CERT: {
      if (!h->request) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
      std::uint32_t index = 0;
      if (!value4(index)) return false;
      h->request->pickCertificate = index;
      return true;
    }
    case INTERNET_OPTION_CLIENT_CERT_CONTEXT: {
      if (!h->request) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
      if (!buffer || bufferLength == 0) return Fail(ERROR_INVALID_PARAMETER);
      UniqueCertContext cert(posix::AcquireCertContext(buffer));
      if (!cert) return Fail(ERROR_INVALID_PARAMETER);
      // A certificate without its private key cannot sign the handshake.
      if (!cert->key) return Fail(ERROR_INTERNET_CLIENT_AUTH_NOT_SETUP);
      h->request->clientCert = std::move(cert);
      h->request->pickCertificate.reset();
      return true;
    }
    default:
      return Fail(ERROR_INTERNET_INVALID_OPTION);
  }
}

bool InternetQueryOptionW(HINTERNET handle, std::uint32_t option, void* buffer,
                          std::uint32_t& bufferLength) {
  InternetHandle* h = Use(handle);
  if (!h) return false;
  switch (option) {
    case INTERNET_OPTION_CONNECT_TIMEOUT:
      return PutNumber(h->timeouts.connect ? h->timeouts.connect : kDefaultConnectTimeoutMs, buffer,
                       bufferLength);
    case INTERNET_OPTION_SEND_TIMEOUT:
    case INTERNET_OPTION_DATA_SEND_TIMEOUT:
      return PutNumber(h->timeouts.send ? h->timeouts.send : kDefaultSendTimeoutMs, buffer,
                       bufferLength);
    case INTERNET_OPTION_RECEIVE_TIMEOUT:
    case INTERNET_OPTION_DATA_RECEIVE_TIMEOUT:
      return PutNumber(h->timeouts.receive ? h->timeouts.receive : kDefaultReceiveTimeoutMs, buffer,
                       bufferLength);
    case INTERNET_OPTION_HANDLE_TYPE:
      return PutNumber(h->kind == InternetHandle::Kind::Root ? INTERNET_HANDLE_TYPE_INTERNET
                       : h->kind == InternetHandle::Kind::Connect
                           ? INTERNET_HANDLE_TYPE_CONNECT_HTTP
                           : INTERNET_HANDLE_TYPE_HTTP_REQUEST,
                       buffer, bufferLength);
    case INTERNET_OPTION_SECURITY_FLAGS:
      if (!h->request) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
      return PutNumber(
          h->request->IgnoreFlags() | (h->request->Secure() ? SECURITY_FLAG_SECURE : 0), buffer,
          bufferLength);
    default:
      return Fail(ERROR_INTERNET_INVALID_OPTION);
  }
}

bool HttpAddRequestHeadersW(HINTERNET request, std::u16string_view headers,
                            std::uint32_t modifiers) {
  Request* r = UseRequest(request);
  if (!r) return false;
  std::vector<HeaderLine> lines;
  if (!ParseHeaderLines(headers, lines)) return Fail(ERROR_HTTP_INVALID_HEADER);
  for (HeaderLine& line : lines) {
    auto existing = std::find_if(r->headers.begin(), r->headers.end(),
                                 [&](const HeaderLine& h) { return SameAscii(h.name, line.name); });
    if (modifiers & HTTP_ADDREQ_FLAG_REPLACE) {
      if (existing != r->headers.end()) {
        if (TrimSpaces(line.rest).empty())
          r->headers.erase(existing);
        else
          existing->rest = std::move(line.rest);
        continue;
      }
      if (!(modifiers & HTTP_ADDREQ_FLAG_ADD)) return Fail(ERROR_HTTP_HEADER_NOT_FOUND);
    } else if ((modifiers & HTTP_ADDREQ_FLAG_ADD_IF_NEW) && existing != r->headers.end()) {
      return Fail(ERROR_HTTP_HEADER_ALREADY_EXISTS);
    }
    r->headers.push_back(std::move(line));
  }
  return true;
}

bool HttpSendRequestW(HINTERNET request, std::u16string_view headers, const void* optional,
                      std::uint32_t optionalLength) {
  InternetHandle* h = Use(request, InternetHandle::Kind::Request);
  if (!h) return false;
  Request& r = *h->request;
  if (r.phase == Phase::Writing) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
  if (!optional && optionalLength) return Fail(ERROR_INVALID_PARAMETER);
  std::vector<HeaderLine> extra;
  if (!ParseHeaderLines(headers, extra)) return Fail(ERROR_HTTP_INVALID_HEADER);
  r.streaming = false;
  r.body.assign(static_cast<const char*>(optional), optional ? optionalLength : 0);
  r.total = r.body.size();
  if (!Start(*h, r, extra)) return false;
  return AwaitResponse(r);
}

bool HttpSendRequestExW(HINTERNET request, const INTERNET_BUFFERSW* buffersIn, INTERNET_BUFFERSW*,
                        std::uint32_t, std::uintptr_t) {
  InternetHandle* h = Use(request, InternetHandle::Kind::Request);
  if (!h) return false;
  Request& r = *h->request;
  if (!buffersIn || buffersIn->dwStructSize != sizeof(INTERNET_BUFFERSW) || buffersIn->Next ||
      (buffersIn->dwBufferLength && !buffersIn->lpvBuffer))
    return Fail(ERROR_INVALID_PARAMETER);
  if (r.phase == Phase::Writing) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
  std::vector<HeaderLine> extra;
  if (buffersIn->lpcszHeader &&
      !ParseHeaderLines(std::u16string_view(buffersIn->lpcszHeader, buffersIn->dwHeadersLength),
                        extra))
    return Fail(ERROR_HTTP_INVALID_HEADER);
  r.streaming = true;
  r.body.clear();
  r.total = std::max<std::uint64_t>(buffersIn->dwBufferTotal, buffersIn->dwBufferLength);
  if (!Start(*h, r, extra)) return false;
  // Up to the point where curl asks for the body: the connection stands
  // and the request headers are on their way.
  Pump(r, [&] { return r.readCalled || (r.connected && r.UploadComplete()) || r.FinalHeaders(); });
  if (r.done && !r.FinalHeaders()) return FailRequest(r);
  r.phase = Phase::Writing;
  if (buffersIn->dwBufferLength) {
    std::uint32_t written = 0;
    return InternetWriteFile(request, buffersIn->lpvBuffer, buffersIn->dwBufferLength, written);
  }
  return true;
}

bool InternetWriteFile(HINTERNET request, const void* buffer, std::uint32_t bytesToWrite,
                       std::uint32_t& bytesWritten) {
  bytesWritten = 0;
  Request* r = UseRequest(request);
  if (!r) return false;
  if (r->phase != Phase::Writing) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
  if (!buffer && bytesToWrite) return Fail(ERROR_INVALID_PARAMETER);
  if (bytesToWrite == 0) return true;
  if (r->fed + bytesToWrite > r->total) return Fail(ERROR_INVALID_PARAMETER);
  r->pending = static_cast<const char*>(buffer);
  r->pendingLength = bytesToWrite;
  if (r->readPaused && r->multi) {
    r->readPaused = false;
    curl_easy_pause(r->easy, CURLPAUSE_CONT);
  }
  Pump(*r, [&] { return r->pendingLength == 0; });
  const std::size_t consumed = bytesToWrite - r->pendingLength;
  r->pending = nullptr;
  r->pendingLength = 0;
  if (consumed < bytesToWrite) {
    // The transfer ended before it took the bytes; a server that answered
    // early and closed counts as a connection that ended.
    if (r->result == CURLE_OK && !r->timedOut) r->result = CURLE_SEND_ERROR;
    return FailRequest(*r);
  }
  bytesWritten = static_cast<std::uint32_t>(consumed);
  return true;
}

bool HttpEndRequestW(HINTERNET request, INTERNET_BUFFERSW*, std::uint32_t, std::uintptr_t) {
  Request* r = UseRequest(request);
  if (!r) return false;
  if (r->phase != Phase::Writing) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
  if (r->fed < r->total) {
    r->Detach();
    r->phase = Phase::Failed;
    return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
  }
  return AwaitResponse(*r);
}

bool HttpQueryInfoW(HINTERNET request, std::uint32_t infoLevel, void* buffer,
                    std::uint32_t& bufferLength, std::uint32_t* index) {
  Request* r = UseRequest(request);
  if (!r) return false;
  if (r->phase != Phase::Responded) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
  const std::uint32_t level = infoLevel & 0xFFFFu;
  const std::uint32_t modifiers = infoLevel & 0xFFFF0000u;
  if (modifiers & ~HTTP_QUERY_FLAG_NUMBER) return Fail(ERROR_HTTP_INVALID_QUERY_REQUEST);
  const bool number = modifiers & HTTP_QUERY_FLAG_NUMBER;

  std::string value;
  switch (level) {
    case HTTP_QUERY_STATUS_CODE:
      if (index && *index) return Fail(ERROR_HTTP_HEADER_NOT_FOUND);
      if (number) return PutNumber(static_cast<std::uint32_t>(r->status), buffer, bufferLength);
      value = std::to_string(r->status);
      break;
    case HTTP_QUERY_STATUS_TEXT:
      if (index && *index) return Fail(ERROR_HTTP_HEADER_NOT_FOUND);
      value = r->statusText;
      break;
    case HTTP_QUERY_VERSION:
      if (index && *index) return Fail(ERROR_HTTP_HEADER_NOT_FOUND);
      value = r->version;
      break;
    case HTTP_QUERY_RAW_HEADERS_CRLF:
      if (index && *index) return Fail(ERROR_HTTP_HEADER_NOT_FOUND);
      value = r->rawHeaders;
      break;
    case HTTP_QUERY_CONTENT_TYPE:
    case HTTP_QUERY_CONTENT_LENGTH: {
      const std::string_view name =
          level == HTTP_QUERY_CONTENT_TYPE ? "Content-Type" : "Content-Length";
      std::uint32_t wanted = index ? *index : 0, seen = 0;
      const ResponseHeader* found = nullptr;
      for (const ResponseHeader& h : r->responseHeaders)
        if (SameAscii(h.name, name) && seen++ == wanted) {
          found = &h;
          break;
        }
      if (!found) return Fail(ERROR_HTTP_HEADER_NOT_FOUND);
      value = found->value;
      break;
    }
    default:
      return Fail(ERROR_HTTP_INVALID_QUERY_REQUEST);
  }
  bool ok;
  if (number) {
    std::uint64_t n = 0;
    if (value.empty() ||
        !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
        value.size() > 10 || (n = std::stoull(value)) > UINT32_MAX)
      return Fail(ERROR_HTTP_INVALID_HEADER);
    ok = PutNumber(static_cast<std::uint32_t>(n), buffer, bufferLength);
  } else {
    ok = PutText(Widen(value), buffer, bufferLength);
  }
  if (ok && index) ++*index;
  return ok;
}

bool InternetQueryDataAvailable(HINTERNET request, std::uint32_t& bytesAvailable, std::uint32_t,
                                std::uintptr_t) {
  bytesAvailable = 0;
  Request* r = UseRequest(request);
  if (!r || !AwaitBody(*r)) return false;
  bytesAvailable =
      static_cast<std::uint32_t>(std::min<std::size_t>(r->Buffered(), kMaxAvailableChunk));
  return true;
}

bool InternetReadFile(HINTERNET request, void* buffer, std::uint32_t bytesToRead,
                      std::uint32_t& bytesRead) {
  bytesRead = 0;
  Request* r = UseRequest(request);
  if (!r) return false;
  if (!buffer && bytesToRead) return Fail(ERROR_INVALID_PARAMETER);
  if (bytesToRead == 0)
    return r->phase == Phase::Responded || Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
  if (!AwaitBody(*r)) return false;
  const std::size_t n = std::min<std::size_t>(r->Buffered(), bytesToRead);
  std::memcpy(buffer, r->bodyBuffer.data() + r->bodyPos, n);
  r->bodyPos += n;
  if (r->bodyPos == r->bodyBuffer.size()) {
    r->bodyBuffer.clear();
    r->bodyPos = 0;
  }
  bytesRead = static_cast<std::uint32_t>(n);
  return true;
}

bool InternetCloseHandle(HINTERNET handle) {
  {
    HandleRegistry& registry = Handles();
    std::lock_guard guard(registry.lock);
    if (!handle || !registry.live.erase(handle)) return Fail(ERROR_INVALID_HANDLE);
  }
  delete handle;
  return true;
}

std::uint32_t InternetErrorDlg(void*, HINTERNET, std::uint32_t, std::uint32_t, void**) {
  return ERROR_CALL_NOT_IMPLEMENTED;
}

}  // namespace delvan::platform
