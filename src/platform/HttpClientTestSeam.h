// Test seam of the HTTP client backend: sends connections for a host to a
// server on loopback and trusts the test servers' certificate authority.
// Linked into the tests only; the shipped library has no way to do either.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace delvan::platform::testing {

// Connections to host:port go to 127.0.0.1:loopbackPort instead. The
// request still names host, and the server certificate is still checked
// against host.
void RouteToLoopback(std::string_view host, std::uint16_t port, std::uint16_t loopbackPort);

// Certificates issued by the authorities in this PEM file are trusted in
// addition to the system's. False when the file holds no certificate.
bool TrustAuthorityFile(const std::string& pemPath);

// Removes every route and every extra authority.
void ResetHttpClientTestSeam();

// Resets the seam when the scope ends, so one test's routes and
// authorities do not leak into the next.
class ScopedHttpClientTestSeam {
 public:
  ScopedHttpClientTestSeam() = default;
  ~ScopedHttpClientTestSeam() { ResetHttpClientTestSeam(); }
  ScopedHttpClientTestSeam(const ScopedHttpClientTestSeam&) = delete;
  ScopedHttpClientTestSeam& operator=(const ScopedHttpClientTestSeam&) = delete;
};

}  // namespace delvan::platform::testing
