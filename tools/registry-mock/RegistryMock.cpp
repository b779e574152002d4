#include "RegistryMock.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

#include "RegistryService.h"
#include "TestPki.h"
#include "service/ServiceConstants.h"

namespace delvan::registrymock {

namespace {

// Carries the behaviour a request is to get from the front to the server
// behind it; never seen by a client.
constexpr const char* kBehaviourHeader = "X-Registry-Mock-Behaviour";
constexpr std::size_t kMaxHead = 64 * 1024;
constexpr std::size_t kMaxRequestBody = 64 * 1024 * 1024;
// A connection idle for this long is closed, so a stuck peer cannot hold
// a thread forever.
constexpr int kSocketTimeoutSeconds = 30;

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() &&
         (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
    s.remove_suffix(1);
  return s;
}

std::string Utf8(std::u16string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF)
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
    AppendUtf8(out, cp);
  }
  return out;
}

std::string Base64(std::string_view bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    std::uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 2]);
    out += kDigits[(v >> 18) & 63];
    out += kDigits[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kDigits[(v >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kDigits[v & 63] : '=';
  }
  return out;
}

// Time-outs, and no Nagle delay: answers go out in several writes (head,
// body pieces), and a delayed acknowledgement would hold each one back.
void SetSocketOptions(int fd) {
  timeval tv{kSocketTimeoutSeconds, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// One side of a connection, plain or TLS.
class Channel {
 public:
  Channel(int fd, SSL* ssl) : FFd(fd), FSsl(ssl) {}

  // Some bytes, or 0 at the end of the stream or on an error.
  std::size_t Read(char* buffer, std::size_t size) {
    if (FSsl) {
      const int n = SSL_read(FSsl, buffer, static_cast<int>(size));
      if (n <= 0) ERR_clear_error();
      return n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    for (;;) {
      const ssize_t n = recv(FFd, buffer, size, 0);
      if (n < 0 && errno == EINTR) continue;
      return n > 0 ? static_cast<std::size_t>(n) : 0;
    }
  }

  bool Write(std::string_view data) {
    while (!data.empty()) {
      if (FSsl) {
        const int n = SSL_write(FSsl, data.data(),
                                static_cast<int>(std::min<std::size_t>(data.size(), 1 << 20)));
        if (n <= 0) {
          ERR_clear_error();
          return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
      } else {
        const ssize_t n = send(FFd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<std::size_t>(n));
      }
    }
    return true;
  }

 private:
  int FFd;
  SSL* FSsl;
};

// Buffered reading from a channel; raw collects every byte taken.
class Reader {
 public:
  explicit Reader(Channel& channel) : FChannel(channel) {}

  std::string raw;

  std::optional<std::string> ReadUntil(std::string_view delimiter, std::size_t max) {
    for (;;) {
      const std::size_t at = FBuffer.find(delimiter, FPos);
      if (at != std::string::npos) return Take(at + delimiter.size() - FPos);
      if (FBuffer.size() - FPos > max || !Fill()) return std::nullopt;
    }
  }

  std::optional<std::string> ReadExact(std::size_t n) {
    while (FBuffer.size() - FPos < n)
      if (!Fill()) return std::nullopt;
    return Take(n);
  }

  // Hands each piece read to sink until count bytes (or, without count, the
  // end of the stream) have passed. False when the stream or sink ends first.
  bool Relay(std::optional<std::uint64_t> count,
             const std::function<bool(std::string_view)>& sink) {
    std::uint64_t left = count.value_or(UINT64_MAX);
    for (;;) {
      if (FPos < FBuffer.size()) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(FBuffer.size() - FPos, left));
        if (!sink(std::string_view(FBuffer).substr(FPos, n))) return false;
        FPos += n;
        left -= n;
      }
      if (count && left == 0) return true;
      FBuffer.clear();
      FPos = 0;
      if (!Fill()) return !count;
    }
  }

 private:
  bool Fill() {
    char chunk[16 * 1024];
    const std::size_t n = FChannel.Read(chunk, sizeof chunk);
    if (n == 0) return false;
    if (FPos > 0 && FPos == FBuffer.size()) {
      FBuffer.clear();
      FPos = 0;
    }
    FBuffer.append(chunk, n);
    return true;
  }

  std::string Take(std::size_t n) {
    std::string out = FBuffer.substr(FPos, n);
    FPos += n;
    raw += out;
    return out;
  }

  Channel& FChannel;
  std::string FBuffer;
  std::size_t FPos = 0;
};

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// Splits a head (start line and header lines, through the blank line).
bool ParseHead(std::string_view head, std::string& startLine, HeaderList& headers) {
  std::size_t eol = head.find("\r\n");
  if (eol == std::string_view::npos) return false;
  startLine = std::string(head.substr(0, eol));
  std::size_t at = eol + 2;
  while (at < head.size()) {
    eol = head.find("\r\n", at);
    if (eol == std::string_view::npos || eol == at) break;
    const std::string_view line = head.substr(at, eol - at);
    at = eol + 2;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return false;
    headers.emplace_back(std::string(Trim(line.substr(0, colon))),
                         std::string(Trim(line.substr(colon + 1))));
  }
  return true;
}

const std::string* FindHeader(const HeaderList& headers, std::string_view name) {
  for (const auto& [n, v] : headers)
    if (SameText(n, name)) return &v;
  return nullptr;
}

bool ReadRequest(Reader& reader, RecordedRequest& request) {
  reader.raw.clear();
  std::optional<std::string> head = reader.ReadUntil("\r\n\r\n", kMaxHead);
  if (!head) return false;
  std::string startLine;
  if (!ParseHead(*head, startLine, request.headers)) return false;
  const std::size_t sp1 = startLine.find(' ');
  const std::size_t sp2 = startLine.find(' ', sp1 == std::string::npos ? sp1 : sp1 + 1);
  if (sp1 == std::string::npos || sp2 == std::string::npos) return false;
  request.method = startLine.substr(0, sp1);
  request.target = startLine.substr(sp1 + 1, sp2 - sp1 - 1);
  request.version = startLine.substr(sp2 + 1);
  if (const std::string* te = FindHeader(request.headers, "Transfer-Encoding");
      te && SameText(*te, "chunked")) {
    for (;;) {
      std::optional<std::string> line = reader.ReadUntil("\r\n", 1024);
      if (!line) return false;
      const std::size_t size = std::strtoul(line->c_str(), nullptr, 16);
      if (size == 0) {
        while (true) {
          std::optional<std::string> trailer = reader.ReadUntil("\r\n", kMaxHead);
          if (!trailer) return false;
          if (*trailer == "\r\n") break;
        }
        break;
      }
      if (request.body.size() + size > kMaxRequestBody) return false;
      std::optional<std::string> data = reader.ReadExact(size);
      if (!data || !reader.ReadExact(2)) return false;
      request.body += *data;
    }
  } else if (const std::string* cl = FindHeader(request.headers, "Content-Length")) {
    const std::size_t size = std::strtoull(cl->c_str(), nullptr, 10);
    if (size > kMaxRequestBody) return false;
    std::optional<std::string> data = reader.ReadExact(size);
    if (!data) return false;
    request.body = std::move(*data);
  }
  request.raw = reader.raw;
  return true;
}

}  // namespace

std::string RecordedRequest::Header(std::string_view name) const {
  const std::string* value = FindHeader(headers, name);
  return value ? *value : std::string();
}

bool RecordedRequest::HasHeader(std::string_view name) const {
  return FindHeader(headers, name) != nullptr;
}

struct RegistryMock::Impl {
  RegistryMockOptions options;
  ServiceSettings settings;
  TestAuthority authority;
  KeyAndCertificate server;
  std::filesystem::path directory;
  std::string authorityFile, certificateFile, keyFile;
  SSL_CTX* ssl = nullptr;

  httplib::Server backend;
  std::thread backendThread;
  int backendPort = 0;

  int listenFd = -1;
  std::uint16_t port = 0;
  std::thread acceptThread;

  struct Connection {
    std::thread thread;
    int fd = -1;  // -1 once closed; guarded by lock
    std::atomic<bool> finished{false};
  };

  mutable std::mutex lock;
  std::condition_variable wake;
  bool stopping = false;
  std::list<std::unique_ptr<Connection>> connections;
  std::vector<RecordedRequest> records;
  int connectionCount = 0;
  int resumedCount = 0;
  Behaviour behaviour = Behaviour::Normal;
  std::string contentType = "text/html";
  std::chrono::milliseconds delay{2000};
  std::uint64_t hugeSize = 17 * 1024 * 1024;
  std::string rawAnswer;

  explicit Impl(RegistryMockOptions o) : options(std::move(o)) {
    static std::once_flag sigpipe;
    std::call_once(sigpipe, [] { signal(SIGPIPE, SIG_IGN); });
    settings.serviceNamespace =
        options.serviceNamespace.empty() ? BuildServiceNamespace() : options.serviceNamespace;
    settings.userName = options.userName;
    settings.password = options.password;
    try {
      MakeFiles();
      if (options.tls) MakeTlsContext();
      StartBackend();
      StartFront();
    } catch (...) {
      Stop();
      throw;
    }
  }

  ~Impl() { Stop(); }

  void MakeFiles() {
    IssueOptions issue;
    issue.commonName = "localhost";
    issue.dnsNames = {"localhost"};
    if (const std::string host = ServiceHost(); !host.empty() && host != "localhost")
      issue.dnsNames.push_back(host);
    issue.ipAddresses = {"127.0.0.1"};
    issue.expired = options.expiredCertificate;
    if (options.wrongHostCertificate) {
      issue.commonName = "other.invalid";
      issue.dnsNames = {"other.invalid"};
      issue.ipAddresses.clear();
    }
    server = options.selfSignedCertificate ? SelfSigned(issue) : authority.Issue(issue);

    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp && tmp[0] == '/' ? tmp : "/tmp") + "/registry-mock-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("registry mock: no temporary directory");
    directory = pattern;
    authorityFile = (directory / "authority.pem").string();
    certificateFile = (directory / "server.pem").string();
    keyFile = (directory / "server-key.pem").string();
    WriteText(authorityFile, CertificatePem(authority.Certificate()));
    WriteText(certificateFile, CertificatePem(server.certificate.get()));
    WriteText(keyFile, PrivateKeyPem(server.key.get()));
  }

  static void WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) throw std::runtime_error("registry mock: cannot write " + path);
  }

  void MakeTlsContext() {
    ssl = SSL_CTX_new(TLS_server_method());
    if (!ssl || SSL_CTX_use_certificate(ssl, server.certificate.get()) != 1 ||
        SSL_CTX_use_PrivateKey(ssl, server.key.get()) != 1 ||
        SSL_CTX_set_min_proto_version(ssl, TLS1_2_VERSION) != 1)
      throw std::runtime_error("registry mock: TLS set-up failed");
    static const unsigned char kContext[] = "registry-mock";
    SSL_CTX_set_session_id_context(ssl, kContext, sizeof kContext - 1);
    if (options.requireClientCertificate) {
      X509_STORE_add_cert(SSL_CTX_get_cert_store(ssl), authority.Certificate());
      SSL_CTX_add_client_CA(ssl, authority.Certificate());
      SSL_CTX_set_verify(ssl, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
    }
    ERR_clear_error();
  }

  void StartBackend() {
    backend.set_tcp_nodelay(true);
    backend.set_read_timeout(kSocketTimeoutSeconds, 0);
    backend.set_write_timeout(kSocketTimeoutSeconds, 0);
    backend.set_payload_max_length(kMaxRequestBody);
    backend.Post(options.servicePath,
                 [this](const httplib::Request& req, httplib::Response& res) { Answer(req, res); });
    backendPort = backend.bind_to_any_port("127.0.0.1");
    if (backendPort <= 0) throw std::runtime_error("registry mock: cannot bind the HTTP server");
    backendThread = std::thread([this] { backend.listen_after_bind(); });
    for (int i = 0; i < 5000 && !backend.is_running(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

  void Answer(const httplib::Request& req, httplib::Response& res) {
    const auto b =
        static_cast<Behaviour>(std::atoi(req.get_header_value(kBehaviourHeader).c_str()));
    if (b == Behaviour::NotFound) {
      res.status = 404;
      res.set_content("<html><body><h1>Not Found</h1></body></html>", "text/html");
      return;
    }
    if (b == Behaviour::Redirect) {
      res.status = 302;
      res.set_header("Location", options.servicePath + "/moved");
      res.set_content("<html><body>Moved</body></html>", "text/html");
      return;
    }
    if (b == Behaviour::BasicAuth &&
        req.get_header_value("Authorization") !=
            "Basic " + Base64(settings.userName + ":" + settings.password)) {
      res.status = 401;
      res.set_header("WWW-Authenticate", "Basic realm=\"registry\"");
      res.set_content("<html><body><h1>Unauthorized</h1></body></html>", "text/html");
      return;
    }
    if (b == Behaviour::Huge || b == Behaviour::HugeChunked) {
      std::uint64_t size;
      {
        std::lock_guard guard(lock);
        size = hugeSize;
      }
      static const std::string filler(64 * 1024, 'x');
      if (b == Behaviour::Huge) {
        res.set_content_provider(static_cast<std::size_t>(size), "text/xml; charset=utf-8",
                                 [](std::size_t, std::size_t length, httplib::DataSink& sink) {
                                   return sink.write(filler.data(),
                                                     std::min(length, filler.size()));
                                 });
      } else {
        res.set_chunked_content_provider(
            "text/xml; charset=utf-8", [size](std::size_t offset, httplib::DataSink& sink) {
              if (offset >= size) {
                sink.done();
                return true;
              }
              return sink.write(filler.data(), static_cast<std::size_t>(std::min<std::uint64_t>(
                                                   size - offset, filler.size())));
            });
      }
      return;
    }
    std::optional<std::string> action;
    if (req.has_header("SOAPAction")) action = req.get_header_value("SOAPAction");
    ServiceAnswer answer = AnswerRequest(settings, action, req.body);
    res.status = answer.status;
    std::string type = answer.contentType;
    if (b == Behaviour::ContentType) {
      std::lock_guard guard(lock);
      type = contentType;
    }
    res.set_content(answer.body, type);
  }

  void StartFront() {
    listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd < 0) throw std::runtime_error("registry mock: no socket");
    const int on = 1;
    setsockopt(listenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (bind(listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listenFd, 64) != 0 ||
        getsockname(listenFd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
      throw std::runtime_error("registry mock: cannot listen on 127.0.0.1");
    port = ntohs(addr.sin_port);
    acceptThread = std::thread([this] { AcceptLoop(); });
  }

  void AcceptLoop() {
    for (;;) {
      const int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
      std::lock_guard guard(lock);
      if (stopping) {
        if (fd >= 0) close(fd);
        return;
      }
      // Threads of connections that ended are joined as new ones come.
      for (auto it = connections.begin(); it != connections.end();) {
        if ((*it)->finished) {
          (*it)->thread.join();
          it = connections.erase(it);
        } else {
          ++it;
        }
      }
      if (fd < 0) {
        if (errno != EINTR && errno != ECONNABORTED)
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
        continue;
      }
      SetSocketOptions(fd);
      auto connection = std::make_unique<Connection>();
      connection->fd = fd;
      Connection* c = connection.get();
      connections.push_back(std::move(connection));
      c->thread = std::thread([this, c] { Serve(*c); });
    }
  }

  void CloseConnection(Connection& c, SSL* tls, bool reset) {
    std::lock_guard guard(lock);
    if (tls) {
      if (!reset) SSL_shutdown(tls);
      SSL_free(tls);
      ERR_clear_error();
    }
    if (reset) {
      const linger hard{1, 0};
      setsockopt(c.fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }
    close(c.fd);
    c.fd = -1;
  }

  void Serve(Connection& c) {
    int number;
    Behaviour current;
    {
      std::lock_guard guard(lock);
      number = ++connectionCount;
    }
    SSL* tls = nullptr;
    bool resumed = false;
    if (ssl) {
      tls = SSL_new(ssl);
      if (!tls || SSL_set_fd(tls, c.fd) != 1 || SSL_accept(tls) != 1) {
        CloseConnection(c, tls, true);
        c.finished = true;
        return;
      }
      resumed = SSL_session_reused(tls) == 1;
      if (resumed) {
        std::lock_guard guard(lock);
        ++resumedCount;
      }
    }
    Channel channel(c.fd, tls);
    Reader reader(channel);
    bool reset = false;
    for (;;) {
      RecordedRequest request;
      if (!ReadRequest(reader, request)) break;
      request.connection = number;
      request.tlsResumed = resumed;
      std::chrono::milliseconds wait;
      {
        std::lock_guard guard(lock);
        records.push_back(request);
        current = behaviour;
        wait = delay;
      }
      if (current == Behaviour::ConnectionReset) {
        reset = true;
        break;
      }
      if (current == Behaviour::Slow) {
        std::unique_lock guard(lock);
        if (wake.wait_for(guard, wait, [this] { return stopping; })) break;
      }
      if (current == Behaviour::Raw) {
        std::string answer;
        {
          std::lock_guard guard(lock);
          answer = rawAnswer;
        }
        channel.Write(answer);
        break;
      }
      if (current == Behaviour::EndlessBody || current == Behaviour::EndlessHeaders) {
        const bool body = current == Behaviour::EndlessBody;
        std::string piece;
        if (body) {
          channel.Write(
              "HTTP/1.1 200 OK\r\nContent-Type: text/xml; charset=utf-8\r\n"
              "Connection: close\r\n\r\n<a>");
          for (int i = 0; i < 4096; ++i) piece += "<a>";
        } else {
          channel.Write("HTTP/1.1 200 OK\r\n");
          for (int i = 0; i < 64; ++i) piece += "X-Filler: " + std::string(54, 'h') + "\r\n";
        }
        // Until the client goes away or the mock stops.
        while (!Stopping() && channel.Write(piece)) {
        }
        break;
      }
      if (current == Behaviour::Drip || current == Behaviour::DripBody) {
        const std::string answer = ServiceAnswerBytes(request, true);
        std::size_t at = 0;
        if (current == Behaviour::DripBody) {
          at = answer.find("\r\n\r\n") + 4;
          if (!channel.Write(answer.substr(0, at))) at = answer.size();
        }
        for (; at < answer.size(); ++at) {
          if (!channel.Write(answer.substr(at, 1))) break;
          std::unique_lock guard(lock);
          if (wake.wait_for(guard, wait, [this] { return stopping; })) break;
        }
        break;
      }
      if (current == Behaviour::ResetMidBody) {
        const std::string answer = ServiceAnswerBytes(request, true);
        const std::size_t head = answer.find("\r\n\r\n") + 4;
        channel.Write(answer.substr(0, head + (answer.size() - head) / 2));
        reset = true;
        break;
      }
      if (current == Behaviour::TruncatedBody || current == Behaviour::NoContentType) {
        std::optional<std::string> action;
        if (request.HasHeader("SOAPAction")) action = request.Header("SOAPAction");
        const ServiceAnswer answer = AnswerRequest(settings, action, request.body);
        std::string head = "HTTP/1.1 " + std::to_string(answer.status) +
                           (answer.status == 200 ? " OK\r\n" : " Internal Server Error\r\n");
        if (current == Behaviour::TruncatedBody)
          head += "Content-Type: " + answer.contentType + "\r\n";
        head += "Content-Length: " + std::to_string(answer.body.size()) + "\r\n\r\n";
        if (current == Behaviour::TruncatedBody) {
          channel.Write(head + answer.body.substr(0, answer.body.size() / 2));
          break;
        }
        if (!channel.Write(head + answer.body)) break;
        continue;
      }
      if (!Forward(channel, request, current)) break;
    }
    CloseConnection(c, tls, reset);
    c.finished = true;
  }

  bool Stopping() {
    std::lock_guard guard(lock);
    return stopping;
  }

  // The service's answer to request as raw bytes, head and body, with or
  // without its Content-Type.
  std::string ServiceAnswerBytes(const RecordedRequest& request, bool withContentType) const {
    std::optional<std::string> action;
    if (request.HasHeader("SOAPAction")) action = request.Header("SOAPAction");
    const ServiceAnswer answer = AnswerRequest(settings, action, request.body);
    std::string head = "HTTP/1.1 " + std::to_string(answer.status) +
                       (answer.status == 200 ? " OK\r\n" : " Internal Server Error\r\n");
    if (withContentType) head += "Content-Type: " + answer.contentType + "\r\n";
    head += "Content-Length: " + std::to_string(answer.body.size()) + "\r\n\r\n";
    return head + answer.body;
  }

  // Passes the request to the HTTP server behind and its answer back.
  // False when the client connection is to close.
  bool Forward(Channel& client, const RecordedRequest& request, Behaviour current) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    SetSocketOptions(fd);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(backendPort));
    bool keepClient = false;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
      std::string head = request.method + " " + request.target + " " + request.version + "\r\n";
      for (const auto& [name, value] : request.headers) {
        if (SameText(name, "Connection") || SameText(name, "Keep-Alive") ||
            SameText(name, "Transfer-Encoding") || SameText(name, "Content-Length") ||
            SameText(name, kBehaviourHeader))
          continue;
        head += name + ": " + value + "\r\n";
      }
      head +=
          std::string(kBehaviourHeader) + ": " + std::to_string(static_cast<int>(current)) + "\r\n";
      head += "Content-Length: " + std::to_string(request.body.size()) +
              "\r\nConnection: close\r\n\r\n";
      Channel back(fd, nullptr);
      Reader answer(back);
      std::optional<std::string> responseHead;
      if (back.Write(head + request.body)) responseHead = answer.ReadUntil("\r\n\r\n", kMaxHead);
      std::string statusLine;
      HeaderList headers;
      if (responseHead && ParseHead(*responseHead, statusLine, headers)) {
        std::string out = statusLine + "\r\n";
        std::optional<std::uint64_t> length;
        bool chunked = false;
        for (const auto& [name, value] : headers) {
          if (SameText(name, "Connection") || SameText(name, "Keep-Alive")) continue;
          if (SameText(name, "Content-Length")) length = std::strtoull(value.c_str(), nullptr, 10);
          if (SameText(name, "Transfer-Encoding") && SameText(value, "chunked")) chunked = true;
          out += name + ": " + value + "\r\n";
        }
        out += "\r\n";
        keepClient = client.Write(out) && answer.Relay(length, [&](std::string_view piece) {
          return client.Write(piece);
        }) && (length || chunked);
      }
    }
    close(fd);
    return keepClient;
  }

  void Stop() {
    {
      std::lock_guard guard(lock);
      stopping = true;
      for (auto& c : connections)
        if (c->fd >= 0) shutdown(c->fd, SHUT_RDWR);
    }
    wake.notify_all();
    if (listenFd >= 0) shutdown(listenFd, SHUT_RDWR);
    if (acceptThread.joinable()) acceptThread.join();
    if (listenFd >= 0) close(listenFd);
    listenFd = -1;
    // No connection starts any more; the running ones see their sockets
    // shut down and end.
    {
      std::lock_guard guard(lock);
      for (auto& c : connections)
        if (c->fd >= 0) shutdown(c->fd, SHUT_RDWR);
    }
    for (auto& c : connections)
      if (c->thread.joinable()) c->thread.join();
    connections.clear();
    backend.stop();
    if (backendThread.joinable()) backendThread.join();
    if (ssl) SSL_CTX_free(ssl);
    ssl = nullptr;
    if (!directory.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(directory, ec);
      directory.clear();
    }
  }
};

RegistryMock::RegistryMock(RegistryMockOptions options)
    : FImpl(std::make_unique<Impl>(std::move(options))) {}

RegistryMock::~RegistryMock() = default;

std::uint16_t RegistryMock::Port() const { return FImpl->port; }

std::string RegistryMock::Url(std::string_view host) const {
  return std::string(FImpl->options.tls ? "https://" : "http://") + std::string(host) + ":" +
         std::to_string(FImpl->port) + FImpl->options.servicePath;
}

std::string RegistryMock::ServiceHost() { return Utf8(service::ServiceHost); }
std::string RegistryMock::BuildServiceNamespace() { return Utf8(service::ServiceNamespace); }

const std::string& RegistryMock::AuthorityFile() const { return FImpl->authorityFile; }
const std::string& RegistryMock::CertificateFile() const { return FImpl->certificateFile; }
const std::string& RegistryMock::KeyFile() const { return FImpl->keyFile; }

void RegistryMock::WriteClientCertificate(const std::string& path, std::uint64_t serial,
                                          ClientFileFormat format) const {
  IssueOptions issue;
  issue.commonName = "Delvan test client";
  issue.forClient = true;
  issue.serial = serial;
  KeyAndCertificate client = FImpl->authority.Issue(issue);
  switch (format) {
    case ClientFileFormat::Pem:
      Impl::WriteText(path,
                      CertificatePem(client.certificate.get()) + PrivateKeyPem(client.key.get()));
      break;
    case ClientFileFormat::PemWithoutKey:
      Impl::WriteText(path, CertificatePem(client.certificate.get()));
      break;
    case ClientFileFormat::Pkcs12:
      Impl::WriteText(path, Pkcs12(client.certificate.get(), client.key.get()));
      break;
  }
}

void RegistryMock::SetBehaviour(Behaviour behaviour) {
  std::lock_guard guard(FImpl->lock);
  FImpl->behaviour = behaviour;
}

void RegistryMock::SetContentType(std::string contentType) {
  std::lock_guard guard(FImpl->lock);
  FImpl->contentType = std::move(contentType);
}

void RegistryMock::SetDelay(std::chrono::milliseconds delay) {
  std::lock_guard guard(FImpl->lock);
  FImpl->delay = delay;
}

void RegistryMock::SetHugeSize(std::uint64_t bytes) {
  std::lock_guard guard(FImpl->lock);
  FImpl->hugeSize = bytes;
}

void RegistryMock::SetRawAnswer(std::string bytes) {
  std::lock_guard guard(FImpl->lock);
  FImpl->rawAnswer = std::move(bytes);
}

std::vector<RecordedRequest> RegistryMock::Requests() const {
  std::lock_guard guard(FImpl->lock);
  return FImpl->records;
}

int RegistryMock::ConnectionCount() const {
  std::lock_guard guard(FImpl->lock);
  return FImpl->connectionCount;
}

int RegistryMock::ResumedSessionCount() const {
  std::lock_guard guard(FImpl->lock);
  return FImpl->resumedCount;
}

void RegistryMock::ClearRecords() {
  std::lock_guard guard(FImpl->lock);
  FImpl->records.clear();
  FImpl->connectionCount = 0;
  FImpl->resumedCount = 0;
}

}  // namespace delvan::registrymock
