// Helpers of the tests that talk HTTP to the mock registry service: a
// request envelope of the service, a closed loopback port, and an
// environment variable set for a scope.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace delvan::test {

// A request envelope of the service for afm, padded with a comment to size
// bytes when size is larger than the envelope.
inline std::string Envelope(std::string_view afm, std::size_t size = 0) {
  std::string head =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><SOAP-ENV:Envelope "
      "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\"><SOAP-ENV:Header>"
      "<SOAP-ENV:Security><SOAP-ENV:UsernameToken><SOAP-ENV:Username>USER</SOAP-ENV:Username>"
      "<SOAP-ENV:Password>secret</SOAP-ENV:Password></SOAP-ENV:UsernameToken></SOAP-ENV:Security>"
      "</SOAP-ENV:Header><SOAP-ENV:Body><rgWsPublicAfmMethod><RgWsPublicInputRt_in>"
      "<afmCalledBy>012345678</afmCalledBy><afmCalledFor>";
  head += afm;
  head += "</afmCalledFor></RgWsPublicInputRt_in></rgWsPublicAfmMethod>";
  const std::string tail = "</SOAP-ENV:Body></SOAP-ENV:Envelope>";
  if (size > head.size() + tail.size() + 7) {
    const std::size_t pad = size - head.size() - tail.size() - 7;
    head += "<!--";
    head += std::string(pad, 'p');
    head += "-->";
  }
  return head + tail;
}

// A port on 127.0.0.1 that nothing listens on.
inline std::uint16_t ClosedPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

// Sets an environment variable for the scope and restores it after.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : FName(name) {
    if (const char* old = std::getenv(name)) FOld = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (FOld)
      setenv(FName, FOld->c_str(), 1);
    else
      unsetenv(FName);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* FName;
  std::optional<std::string> FOld;
};

}  // namespace delvan::test
