// The mock registry service: a real HTTPS (or HTTP) server on 127.0.0.1, on
// a free port, that answers as the registry web service does (see
// RegistryService.h), records every request as it came over the wire, and
// misbehaves when a test asks it to.
//
// Inside: a front that accepts the connections, holds TLS (with its own test
// authority), records each request byte for byte and counts connections and
// resumed TLS sessions; behind it a cpp-httplib server on another loopback
// port that makes the answers. The front exists because the recording must
// see the request's header lines in their order, which cpp-httplib does not
// keep, and the plain text, which only the TLS end has. The raw misbehaviours
// (reset, truncated body, no Content-Type) are written by the front itself.
//
// Starting a mock sets SIGPIPE to be ignored in the process, so that a peer
// that goes away cannot end it.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace delvan::registrymock {

enum class Behaviour {
  Normal,           // the service's answers
  NotFound,         // status 404 with an HTML page
  ContentType,      // the service's answer with the Content-Type of SetContentType
  NoContentType,    // the service's answer without a Content-Type header
  Slow,             // the service's answer after SetDelay
  Huge,             // status 200, text/xml, a body of SetHugeSize bytes, streamed
  HugeChunked,      // the same in chunks, without a Content-Length
  TruncatedBody,    // announces the whole answer, sends half of it and closes
  ConnectionReset,  // reads the request and resets the connection
  BasicAuth,        // status 401 with a Basic challenge unless the request carries the
                    // configured user name and password in an Authorization header
  Redirect,         // status 302 to another path of the same server
  // Misbehaviours of a hostile or broken server, written by the front:
  Raw,             // the bytes of SetRawAnswer as the whole answer, then closes
  ResetMidBody,    // announces the whole answer, sends half of it and resets
  EndlessBody,     // status 200, text/xml, no length, and a body that never ends
  EndlessHeaders,  // a status line and then header lines that never end
  Drip,            // the service's answer, one byte every SetDelay
  DripBody,        // the service's answer: its head at once, then its body one byte every SetDelay
};

struct RegistryMockOptions {
  bool tls = true;
  bool expiredCertificate = false;        // the server certificate's dates have passed
  bool requireClientCertificate = false;  // one issued by the test authority
  bool wrongHostCertificate = false;      // the server certificate names another host only
  bool selfSignedCertificate = false;     // the server certificate is signed by its own key
  std::string userName = "USER";
  std::string password = "secret";
  std::string serviceNamespace;  // empty: the build's service namespace
  std::string servicePath = "/webtax2/wsgsis/RgWsPublic/RgWsPublicPort";
};

struct RecordedRequest {
  std::string raw;  // the bytes of the request as they came
  std::string method;
  std::string target;
  std::string version;
  std::vector<std::pair<std::string, std::string>> headers;  // in order
  std::string body;                                          // decoded
  int connection = 0;  // number of the server connection, from 1
  bool tlsResumed = false;

  // The first value of a header (name compared ignoring case), or "".
  std::string Header(std::string_view name) const;
  bool HasHeader(std::string_view name) const;
};

class RegistryMock {
 public:
  // Starts both servers; throws std::runtime_error when it cannot.
  explicit RegistryMock(RegistryMockOptions options = {});
  // Stops the servers, ends every connection and removes the files.
  ~RegistryMock();
  RegistryMock(const RegistryMock&) = delete;
  RegistryMock& operator=(const RegistryMock&) = delete;

  std::uint16_t Port() const;
  // The endpoint URL with this host and the mock's port.
  std::string Url(std::string_view host = "127.0.0.1") const;
  // The build's service host (in UTF-8); the certificate names it besides
  // localhost and 127.0.0.1.
  static std::string ServiceHost();
  static std::string BuildServiceNamespace();

  // PEM files in a directory of the mock's own: the test authority, the
  // server certificate and its key.
  const std::string& AuthorityFile() const;
  const std::string& CertificateFile() const;
  const std::string& KeyFile() const;

  enum class ClientFileFormat { Pem, PemWithoutKey, Pkcs12 };
  // Writes a client certificate of the test authority with this serial
  // number to path: as PEM followed by its private key, as PEM alone, or as
  // a PKCS#12 bundle with the key and an empty password.
  void WriteClientCertificate(const std::string& path, std::uint64_t serial,
                              ClientFileFormat format = ClientFileFormat::Pem) const;

  void SetBehaviour(Behaviour behaviour);
  void SetContentType(std::string contentType);
  void SetDelay(std::chrono::milliseconds delay);
  void SetHugeSize(std::uint64_t bytes);
  // The whole answer of Behaviour::Raw: status line, headers and body.
  void SetRawAnswer(std::string bytes);

  std::vector<RecordedRequest> Requests() const;
  int ConnectionCount() const;
  int ResumedSessionCount() const;
  void ClearRecords();

 private:
  struct Impl;
  std::unique_ptr<Impl> FImpl;
};

}  // namespace delvan::registrymock
