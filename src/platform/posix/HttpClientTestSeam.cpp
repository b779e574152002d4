#include "platform/HttpClientTestSeam.h"

#include <fstream>
#include <iterator>

#include "platform/posix/HttpClientState.h"

namespace delvan::platform::testing {

void RouteToLoopback(std::string_view host, std::uint16_t port, std::uint16_t loopbackPort) {
  posix::HttpTestOverrides& o = posix::TestOverrides();
  std::lock_guard guard(o.lock);
  o.connectTo.push_back(std::string(host) + ":" + std::to_string(port) +
                        ":127.0.0.1:" + std::to_string(loopbackPort));
}

bool TrustAuthorityFile(const std::string& pemPath) {
  std::ifstream in(pemPath, std::ios::binary);
  std::string pem{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (pem.find("-----BEGIN CERTIFICATE-----") == std::string::npos) return false;
  posix::HttpTestOverrides& o = posix::TestOverrides();
  std::lock_guard guard(o.lock);
  o.extraAuthorities.push_back(std::move(pem));
  return true;
}

void ResetHttpClientTestSeam() {
  posix::HttpTestOverrides& o = posix::TestOverrides();
  std::lock_guard guard(o.lock);
  o.connectTo.clear();
  o.extraAuthorities.clear();
}

}  // namespace delvan::platform::testing
