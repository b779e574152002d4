// State of the POSIX HTTP backend, shared with its test seam only. Nothing
// in the shipped library writes it, so there it stays empty.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace delvan::platform::posix {

struct HttpTestOverrides {
  std::mutex lock;
  std::vector<std::string> connectTo;         // "host:port:127.0.0.1:loopbackPort"
  std::vector<std::string> extraAuthorities;  // PEM texts
};

HttpTestOverrides& TestOverrides();

}  // namespace delvan::platform::posix
