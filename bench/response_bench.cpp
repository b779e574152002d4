// Reading the lookup's response, bytes to records: the typical answer, and
// answers of N = 10, 1 000 and 100 000 activities; and the whole lookup in
// process at 1 000 and 100 000 activities (the request written, the response
// read, the result text made). Reading is linear in N: the time per activity
// (items per second, and the O(N) fit) stays within a small factor across
// the range. The counter peak_x_size is the peak of the memory held while
// one response is read (its bytes, the document, node wrappers and the
// records made, with the blocks the DOM maps for a large tree), or one
// lookup runs (with the request and the result text too), as a multiple of
// the response's size in bytes.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <new>
#include <sstream>
#include <stdexcept>

#include "InProcessLookup.h"
#include "lookup/LibraryInit.h"
#include "rtl/Stream.h"
#include "service/RgWsPublic.h"
#include "service/ServiceConstants.h"
#include "soap/IntfInfo.h"
#include "soap/OPToSOAPDomConv.h"
#include "xml/XMLDoc.h"

// ---- Allocation accounting: current and peak bytes of operator new and of
// the memory the DOM maps itself for the blocks of a large tree -------------

namespace {
std::atomic<std::int64_t> gCurrent{0};
std::atomic<std::int64_t> gPeak{0};

void Count(std::int64_t bytes) {
  const std::int64_t now = gCurrent.fetch_add(bytes) + bytes;
  std::int64_t peak = gPeak.load();
  while (now > peak && !gPeak.compare_exchange_weak(peak, now)) {
  }
}

void* Allocate(std::size_t n) {
  void* p = std::malloc(n ? n : 1);
  if (!p) throw std::bad_alloc();
  Count(static_cast<std::int64_t>(malloc_usable_size(p)));
  return p;
}

void Release(void* p) noexcept {
  if (!p) return;
  gCurrent.fetch_sub(static_cast<std::int64_t>(malloc_usable_size(p)));
  std::free(p);
}
}  // namespace

// The C library's own allocator maps its large blocks through an inner
// call, so only the program's mappings (the DOM's blocks) come here.
extern "C" void* mmap(void* addr, std::size_t length, int prot, int flags, int fd, off_t offset) {
  const long p = syscall(SYS_mmap, addr, length, prot, flags, fd, offset);
  if (p == -1) return MAP_FAILED;
  Count(static_cast<std::int64_t>(length));
  return reinterpret_cast<void*>(p);
}
extern "C" int munmap(void* addr, std::size_t length) {
  if (syscall(SYS_munmap, addr, length) == -1) return -1;
  Count(-static_cast<std::int64_t>(length));
  return 0;
}

void* operator new(std::size_t n) { return Allocate(n); }
void* operator new[](std::size_t n) { return Allocate(n); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, std::size_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t) noexcept { Release(p); }

namespace {

using namespace delvan;
using namespace delvan::service;
using namespace delvan::soap;

std::string Utf8(UnicodeStringView text) {
  std::string out;
  for (char16_t c : text) out.push_back(static_cast<char>(c));  // the namespace is ASCII
  return out;
}

std::string TypicalResponse() {
  std::string dir = __FILE__;
  dir.erase(dir.find_last_of('/') + 1);
  std::ifstream in(dir + "../tests/fixtures/service/typical_response.xml", std::ios::binary);
  if (!in) throw std::runtime_error("missing fixture typical_response.xml");
  std::ostringstream s;
  s << in.rdbuf();
  std::string xml = s.str();
  const std::string placeholder = "@SERVICE_NAMESPACE@";
  if (auto at = xml.find(placeholder); at != std::string::npos)
    xml.replace(at, placeholder.size(), Utf8(ServiceNamespace));
  return xml;
}

// An answer like the typical one with n activities of four fields each.
std::string ResponseWith(std::int64_t n) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><env:Envelope "
      "xmlns:env=\"http://schemas.xmlsoap.org/soap/envelope/\" xmlns:srvc=\"" +
      Utf8(ServiceNamespace) +
      "\"><env:Body><srvc:rgWsPublicAfmMethodResponse><RgWsPublicBasicRt_out><srvc:afm>094019245"
      "</srvc:afm></RgWsPublicBasicRt_out><arrayOfRgWsPublicFirmActRt_out>";
  for (std::int64_t i = 0; i < n; ++i)
    xml +=
        "<srvc:RgWsPublicFirmActRtUser><srvc:firmActDescr>WHOLESALE TRADE</srvc:firmActDescr>"
        "<srvc:firmActKind>1</srvc:firmActKind><srvc:firmActKindDescr>MAIN"
        "</srvc:firmActKindDescr><srvc:firmActCode>46190000</srvc:firmActCode>"
        "</srvc:RgWsPublicFirmActRtUser>";
  xml +=
      "</arrayOfRgWsPublicFirmActRt_out><pCallSeqId_out>123456789</pCallSeqId_out>"
      "<pErrorRec_out><srvc:errorDescr/><srvc:errorCode/></pErrorRec_out>"
      "</srvc:rgWsPublicAfmMethodResponse></env:Body></env:Envelope>";
  return xml;
}

// The response's bytes are put in a stream once, outside the timed reads
// (a copy into fresh memory per read is the fixture's cost, not the
// reader's: 25 MB of new pages per read at 100 000 activities); they are
// still counted in the peak.
void Run(benchmark::State& state, const std::string& xml, std::int64_t items, bool whole = false) {
  const bench::TLookupConverter reader;
  TMemoryStream stream(xml);
  const auto bytes = static_cast<std::int64_t>(xml.size());
  double worst = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const std::int64_t base = gCurrent.load();
    gPeak.store(base);
    state.ResumeTiming();
    if (whole)
      benchmark::DoNotOptimize(bench::LookupOnce(reader, stream));
    else
      benchmark::DoNotOptimize(bench::ReadOnce(reader, stream));
    state.PauseTiming();
    worst = std::max(worst,
                     static_cast<double>(gPeak.load() - base + bytes) / static_cast<double>(bytes));
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * items);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(xml.size()));
  state.counters["response_bytes"] = static_cast<double>(xml.size());
  state.counters["peak_x_size"] = worst;
}

// The XML layer alone: the document parsed from the response's bytes, and
// parsed with every node's wrapper and child list built (what the reader's
// walk costs the node model), to place the peak between parser and reader.
void Parse(benchmark::State& state, bool walk) {
  const std::string xml = ResponseWith(state.range(0));
  double worst = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const std::int64_t base = gCurrent.load();
    gPeak.store(base);
    state.ResumeTiming();
    {
      TMemoryStream stream(xml);
      IntfPtr<xml::IXMLDocument> doc = xml::NewXMLDocument(u"1.0");
      doc->LoadFromStream(stream, xml::xetUnknown);
      std::int64_t nodes = 0;
      if (walk) {
        std::vector<IntfPtr<xml::IXMLNode>> stack{doc->GetDocumentElement()};
        while (!stack.empty()) {
          IntfPtr<xml::IXMLNode> n = std::move(stack.back());
          stack.pop_back();
          ++nodes;
          if (n->GetNodeType() != xml::ntElement) continue;
          IntfPtr<xml::IXMLNodeList> children = n->GetChildNodes();
          for (std::int32_t i = 0; i < children->GetCount(); ++i) stack.push_back(children->Get(i));
        }
      }
      benchmark::DoNotOptimize(nodes);
    }
    state.PauseTiming();
    worst =
        std::max(worst, static_cast<double>(gPeak.load() - base) / static_cast<double>(xml.size()));
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(xml.size()));
  state.counters["peak_x_size"] = worst;
}

void BM_ParseResponse(benchmark::State& state) { Parse(state, false); }
BENCHMARK(BM_ParseResponse)->Arg(1000)->Unit(benchmark::kMillisecond);
void BM_ParseAndWalkResponse(benchmark::State& state) { Parse(state, true); }
BENCHMARK(BM_ParseAndWalkResponse)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_TypicalResponse(benchmark::State& state) { Run(state, TypicalResponse(), 1); }
BENCHMARK(BM_TypicalResponse)->Unit(benchmark::kMicrosecond);

void BM_ResponseWithActivities(benchmark::State& state) {
  Run(state, ResponseWith(state.range(0)), state.range(0));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ResponseWithActivities)
    ->Arg(10)
    ->Arg(1000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

void BM_LookupWithActivities(benchmark::State& state) {
  Run(state, ResponseWith(state.range(0)), state.range(0), true);
}
BENCHMARK(BM_LookupWithActivities)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  delvan::InitializeLibrary();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  delvan::FinalizeLibrary();
  return 0;
}
