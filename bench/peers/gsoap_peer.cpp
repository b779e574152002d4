// The gSOAP side of the comparison (bench/compare.sh): one lookup is the
// request serialised into a buffer and the response parsed from a buffer
// into the generated records, as the Delvan peer does it. Built by
// compare.sh against the code generated from tests/interop/RgWsPublic.wsdl.
// With an https URL instead, one lookup is the whole call to that endpoint
// (built with WITH_OPENSSL), a new connection each, trusting CA_FILE.
//   peer_gsoap RESPONSE_FILE REPETITIONS
//   peer_gsoap URL CA_FILE REPETITIONS
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "RgWsPublicPortBinding.nsmap"
#include "soapRgWsPublicPortBindingProxy.h"

namespace {

// The transport replaced by two buffers: what the call sends is kept, what
// it receives is the canned response behind a plain HTTP status line.
struct TBuffers {
  std::string sent;
  std::string received;
  std::size_t at = 0;
};

SOAP_SOCKET Open(soap*, const char*, const char*, int) { return 3; }
int Send(soap* s, const char* data, size_t n) {
  static_cast<TBuffers*>(s->user)->sent.append(data, n);
  return SOAP_OK;
}
size_t Recv(soap* s, char* data, size_t n) {
  auto* b = static_cast<TBuffers*>(s->user);
  const size_t k = std::min(n, b->received.size() - b->at);
  std::memcpy(data, b->received.data() + b->at, k);
  b->at += k;
  return k;
}
int Close(soap*) { return SOAP_OK; }

// The content of the credentials block as the library writes it, user name
// upper-cased; gSOAP writes the Security element around it.
char kSecurity[] =
    "<SOAP-ENV:UsernameToken><SOAP-ENV:Username>USER</SOAP-ENV:Username>"
    "<SOAP-ENV:Password>secret</SOAP-ENV:Password></SOAP-ENV:UsernameToken>";

std::size_t Call(RgWsPublicPortBindingProxy& proxy, const char* url) {
  std::string by = "012345678", forr = "094019245";
  ns1__RgWsPublicInputRtUser in;
  in.afmCalledBy = &by;
  in.afmCalledFor = &forr;
  ns1__RgWsPublicBasicRtUser basic;
  ns1__RgWsPublicFirmActRtUserArray acts;
  ns1__GenWsErrorRtUser err;
  proxy.soap_header(kSecurity);
  ns1__rgWsPublicAfmMethodResponse out;
  if (proxy.rgWsPublicAfmMethod(url, nullptr, &in, &basic, &acts, "0", &err, out) != SOAP_OK) {
    proxy.soap_stream_fault(std::cerr);
    throw std::runtime_error("call failed");
  }
  std::size_t n = 0;
  if (out._arrayOfRgWsPublicFirmActRt_USCOREout)
    n = out._arrayOfRgWsPublicFirmActRt_USCOREout->RgWsPublicFirmActRtUser.size();
  proxy.destroy();
  return n;
}

std::size_t Lookup(RgWsPublicPortBindingProxy& proxy, const std::string& response) {
  std::string by = "012345678", forr = "094019245";
  ns1__RgWsPublicInputRtUser in;
  in.afmCalledBy = &by;
  in.afmCalledFor = &forr;
  ns1__RgWsPublicBasicRtUser basic;
  ns1__RgWsPublicFirmActRtUserArray acts;
  ns1__GenWsErrorRtUser err;
  // The same content with the password of the in-process comparison.
  static char security[] =
      "<SOAP-ENV:UsernameToken><SOAP-ENV:Username>USER</SOAP-ENV:Username>"
      "<SOAP-ENV:Password>Pa&amp;ss&lt;word</SOAP-ENV:Password></SOAP-ENV:UsernameToken>";
  proxy.soap_header(security);

  auto* buffers = static_cast<TBuffers*>(proxy.soap->user);
  buffers->sent.clear();
  buffers->at = 0;
  if (proxy.send_rgWsPublicAfmMethod("http://localhost/", nullptr, &in, &basic, &acts, "0", &err) !=
      SOAP_OK) {
    proxy.soap_stream_fault(std::cerr);
    throw std::runtime_error("send failed");
  }
  ns1__rgWsPublicAfmMethodResponse out;
  if (proxy.recv_rgWsPublicAfmMethod(out) != SOAP_OK) {
    proxy.soap_stream_fault(std::cerr);
    throw std::runtime_error("receive failed");
  }
  if (buffers->sent.empty()) throw std::runtime_error("nothing sent");
  std::size_t n = 0;  // activities read
  if (out._arrayOfRgWsPublicFirmActRt_USCOREout)
    n = out._arrayOfRgWsPublicFirmActRt_USCOREout->RgWsPublicFirmActRtUser.size();
  proxy.destroy();  // frees what the parse allocated
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: %s RESPONSE_FILE REPETITIONS | URL CA_FILE REPETITIONS\n",
                 argv[0]);
    return 2;
  }
  if (std::strncmp(argv[1], "https://", 8) == 0) {
#ifdef WITH_OPENSSL
    if (argc != 4) return 2;
    RgWsPublicPortBindingProxy proxy(SOAP_C_UTFSTRING);
    if (soap_ssl_client_context(proxy.soap, SOAP_SSL_DEFAULT, nullptr, nullptr, argv[2], nullptr,
                                nullptr) != SOAP_OK) {
      proxy.soap_stream_fault(std::cerr);
      return 1;
    }
    std::vector<double> us;
    std::size_t n = 0;
    try {
      for (int r = 0, reps = std::max(1, std::atoi(argv[3])); r < reps; ++r) {
        auto t0 = std::chrono::steady_clock::now();
        n = Call(proxy, argv[1]);
        us.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0)
                .count());
      }
    } catch (const std::exception& e) {
      std::fprintf(stderr, "lookup failed: %s\n", e.what());
      return 1;
    }
    std::sort(us.begin(), us.end());
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    std::printf("%.1f %ld %zu\n", us[us.size() / 2], ru.ru_maxrss, n);
    return 0;
#else
    std::fprintf(stderr, "built without WITH_OPENSSL\n");
    return 2;
#endif
  }
  std::ifstream file(argv[1], std::ios::binary);
  std::ostringstream s;
  s << file.rdbuf();
  const std::string response = s.str();
  const int reps = std::max(1, std::atoi(argv[2]));
  RgWsPublicPortBindingProxy proxy(SOAP_C_UTFSTRING);
  TBuffers buffers;
  buffers.received =
      "HTTP/1.1 200 OK\r\nContent-Type: text/xml; charset=utf-8\r\nContent-Length: " +
      std::to_string(response.size()) + "\r\n\r\n" + response;
  proxy.soap->user = &buffers;
  proxy.soap->fopen = Open;
  proxy.soap->fsend = Send;
  proxy.soap->frecv = Recv;
  proxy.soap->fclose = Close;
  std::vector<double> us;
  std::size_t sink = 0;
  try {
    for (int r = 0; r < reps; ++r) {
      auto t0 = std::chrono::steady_clock::now();
      sink = Lookup(proxy, response);
      us.push_back(
          std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "lookup failed: %s\n", e.what());
    return 1;
  }
  std::sort(us.begin(), us.end());
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  std::printf("%.1f %ld %zu\n", us[us.size() / 2], ru.ru_maxrss, sink);
  return 0;
}
