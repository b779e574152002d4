// One in-process lookup of the comparison (bench/compare.sh): the records
// written into the request's bytes, the response's bytes (in a stream
// filled once) read back into records, and the result text made of them;
// repeated, with the median time of one lookup in microseconds and the
// peak resident size in kilobytes printed on one line, with the number of
// activities read.
//   peer_delvan RESPONSE_FILE REPETITIONS
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include "InProcessLookup.h"
#include "lookup/LibraryInit.h"
#include "rtl/Stream.h"

using namespace delvan;

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s RESPONSE_FILE REPETITIONS\n", argv[0]);
    return 2;
  }
  // The response's bytes go into a stream once, as the web node holds them
  // received before the reading starts (gSOAP's peer reads from a buffer
  // made once too).
  TMemoryStream response;
  {
    std::ifstream in(argv[1], std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    response.WriteBytes(s.str());
  }
  const int reps = std::max(1, std::atoi(argv[2]));

  InitializeLibrary();
  int rc = 0;
  {
    const bench::TLookupConverter converter;
    std::vector<double> us;
    std::size_t sink = 0;
    try {
      for (int r = 0; r < reps; ++r) {
        auto t0 = std::chrono::steady_clock::now();
        sink = bench::LookupOnce(converter, response);
        us.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0)
                .count());
      }
      std::sort(us.begin(), us.end());
      rusage ru{};
      getrusage(RUSAGE_SELF, &ru);
      std::printf("%.1f %ld %zu\n", us[us.size() / 2], ru.ru_maxrss, sink);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "lookup failed: %s\n", e.what());
      rc = 1;
    }
  }
  FinalizeLibrary();
  return rc;
}
