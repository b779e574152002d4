// One lookup end to end (RunWSOrvDLL, its fixed endpoint routed to the mock
// registry service over loopback HTTPS) beside the same POST made by a bare
// libcurl loop under the same connection policy: a new connection per
// lookup, TLS sessions and the trust store shared across them. The ratio of the two times is
// what the SOAP layers cost on top of the wire.
//
// Without a working converter (while its writer or reader is missing) the
// lookup cannot reach the wire; the program then says so and runs nothing.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "RegistryMock.h"
#include "delvan.h"
#include "lookup/FailureText.h"
#include "lookup/LibraryInit.h"
#include "platform/HttpClientTestSeam.h"

namespace {

// The authorities libcurl trusts by default on this system.
constexpr const char* kSystemAuthorities = "/etc/ssl/certs/ca-certificates.crt";

using delvan::registrymock::RecordedRequest;
using delvan::registrymock::RegistryMock;

struct Setup {
  RegistryMock* mock = nullptr;
  std::string caBundle;  // the system's authorities and the mock's, as the lookup trusts

  RecordedRequest request;  // what one lookup sent
  std::string answer;       // the result text of one lookup
};
Setup gSetup;

const char* Lookup() { return RunWSOrvDLL("012345678", "094019245", "user", "secret"); }

void BM_Lookup(benchmark::State& state) {
  for (auto _ : state) {
    const char* text = Lookup();
    benchmark::DoNotOptimize(text);
    if (gSetup.answer != text) {
      state.SkipWithError("a lookup gave another answer");
      break;
    }
  }
}
BENCHMARK(BM_Lookup)->Unit(benchmark::kMicrosecond);

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

CURLcode UseStore(CURL*, void* sslContext, void* store) {
  SSL_CTX_set1_cert_store(static_cast<SSL_CTX*>(sslContext), static_cast<X509_STORE*>(store));
  return CURLE_OK;
}

// The same request bytes, posted by libcurl with a new connection each time;
// the trust store is loaded once and shared by the connections (as the
// library does), or loaded by each connection from the bundle file.
void BareCurlPost(benchmark::State& state, bool sharedStore) {
  const RecordedRequest& r = gSetup.request;
  const std::string host = RegistryMock::ServiceHost();
  const std::string url = "https://" + host + ":443" + r.target;
  const std::string connectTo = host + ":443:127.0.0.1:" + std::to_string(gSetup.mock->Port());
  curl_slist* route = curl_slist_append(nullptr, connectTo.c_str());
  curl_slist* headers = nullptr;
  for (const char* name : {"SOAPAction", "Content-Type", "User-Agent"})
    if (r.HasHeader(name))
      headers = curl_slist_append(headers, (std::string(name) + ": " + r.Header(name)).c_str());
  headers = curl_slist_append(headers, "Expect:");
  CURLSH* share = curl_share_init();
  curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
  X509_STORE* store = X509_STORE_new();
  X509_STORE_set_flags(store, X509_V_FLAG_TRUSTED_FIRST | X509_V_FLAG_PARTIAL_CHAIN);
  X509_STORE_load_file(store, gSetup.caBundle.c_str());
  std::string response;
  for (auto _ : state) {
    CURL* e = curl_easy_init();
    response.clear();
    curl_easy_setopt(e, CURLOPT_URL, url.c_str());
    curl_easy_setopt(e, CURLOPT_CONNECT_TO, route);
    if (sharedStore) {
      curl_easy_setopt(e, CURLOPT_CAINFO, static_cast<const char*>(nullptr));
      curl_easy_setopt(e, CURLOPT_CAPATH, static_cast<const char*>(nullptr));
      curl_easy_setopt(e, CURLOPT_SSL_CTX_FUNCTION, &UseStore);
      curl_easy_setopt(e, CURLOPT_SSL_CTX_DATA, static_cast<void*>(store));
    } else {
      curl_easy_setopt(e, CURLOPT_CAINFO, gSetup.caBundle.c_str());
    }
    curl_easy_setopt(e, CURLOPT_SHARE, share);
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(e, CURLOPT_POSTFIELDS, r.body.data());
    curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(r.body.size()));
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &response);
    const CURLcode rc = curl_easy_perform(e);
    curl_easy_cleanup(e);
    if (rc != CURLE_OK) {
      state.SkipWithError(curl_easy_strerror(rc));
      break;
    }
    benchmark::DoNotOptimize(response.data());
  }
  X509_STORE_free(store);
  curl_share_cleanup(share);
  curl_slist_free_all(headers);
  curl_slist_free_all(route);
}
void BM_BareCurlPost(benchmark::State& state) { BareCurlPost(state, true); }
void BM_BareCurlPostLoadingTheStore(benchmark::State& state) { BareCurlPost(state, false); }
BENCHMARK(BM_BareCurlPost)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BareCurlPostLoadingTheStore)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  delvan::InitializeLibrary();
  int status = 0;
  {
    RegistryMock mock;
    delvan::platform::testing::TrustAuthorityFile(mock.AuthorityFile());
    delvan::platform::testing::RouteToLoopback(RegistryMock::ServiceHost(), 443, mock.Port());
    gSetup.mock = &mock;
    gSetup.answer = Lookup();
    const std::vector<RecordedRequest> sent = mock.Requests();
    if (sent.empty() || gSetup.answer.starts_with(delvan::lookup::FailureSentence)) {
      std::string why = gSetup.answer.substr(
          std::min(gSetup.answer.size(), delvan::lookup::FailureSentence.size()));
      std::cout << "lookup_bench: skipped: a lookup does not reach an answer yet (" << why << ")\n";
    } else {
      gSetup.request = sent.back();
      // The lookup verifies against the system's authorities with the mock's
      // added; the loop loads the same set for each connection.
      // Named per process: runs side by side (CTest, the comparison) must not
      // remove each other's bundle.
      gSetup.caBundle = (std::filesystem::temp_directory_path() /
                         ("lookup_bench_ca." + std::to_string(getpid()) + ".pem"))
                            .string();
      {
        std::ofstream bundle(gSetup.caBundle, std::ios::binary);
        for (const std::string& file :
             {std::string(kSystemAuthorities), gSetup.mock->AuthorityFile()}) {
          std::ifstream in(file, std::ios::binary);
          bundle << in.rdbuf() << "\n";
        }
      }
      curl_global_init(CURL_GLOBAL_DEFAULT);
      benchmark::RunSpecifiedBenchmarks();
      curl_global_cleanup();
      std::filesystem::remove(gSetup.caBundle);
    }
    gSetup.mock = nullptr;
  }
  benchmark::Shutdown();
  delvan::FinalizeLibrary();
  return status;
}
