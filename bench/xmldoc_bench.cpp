// Building, saving, parsing and walking a document of N children of one
// element, for N = 1 000, 10 000 and 100 000. Each is linear in N: the
// time per element (shown as items per second and by the O(N) fit) stays
// within a small factor across the range.
#include <benchmark/benchmark.h>

#include "platform/XmlDomVendor.h"
#include "xml/XMLDoc.h"

namespace {

using namespace delvan;
using namespace delvan::xml;

constexpr UnicodeStringView kNs = u"urn:bench";

IntfPtr<IXMLDocument> Build(std::int64_t n) {
  IntfPtr<IXMLDocument> doc = NewXMLDocument(u"1.0");
  IntfPtr<IXMLNode> root = doc->AddChild(u"b:root", UnicodeString(kNs));
  for (std::int64_t i = 0; i < n; ++i)
    root->AddChild(u"item", UnicodeString(kNs))->SetText(u"value");
  return doc;
}

std::string Save(const IntfPtr<IXMLDocument>& doc) {
  TMemoryStream out;
  doc->SaveToStream(out);
  return std::string(out.View());
}

void Finish(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.SetComplexityN(state.range(0));
}

void BM_BuildNodeByNode(benchmark::State& state) {
  platform::RegisterPlatformDOMVendor();
  for (auto _ : state) benchmark::DoNotOptimize(Build(state.range(0)));
  Finish(state);
}

void BM_Save(benchmark::State& state) {
  platform::RegisterPlatformDOMVendor();
  IntfPtr<IXMLDocument> doc = Build(state.range(0));
  for (auto _ : state) {
    TMemoryStream out;
    doc->SaveToStream(out);
    benchmark::DoNotOptimize(out.Memory());
  }
  Finish(state);
}

void BM_Parse(benchmark::State& state) {
  platform::RegisterPlatformDOMVendor();
  const std::string bytes = Save(Build(state.range(0)));
  IntfPtr<IXMLDocument> doc = NewXMLDocument(u"");
  for (auto _ : state) {
    TMemoryStream in(bytes);
    doc->LoadFromStream(in);
    benchmark::DoNotOptimize(doc->GetDocumentElement());
  }
  Finish(state);
}

void BM_WalkChildList(benchmark::State& state) {
  platform::RegisterPlatformDOMVendor();
  TMemoryStream in(Save(Build(state.range(0))));
  IntfPtr<IXMLDocument> doc = NewXMLDocument(u"");
  doc->LoadFromStream(in);
  for (auto _ : state) {
    // A fresh wrapper tree each time, so the child list is built and read.
    doc->Resync();
    IntfPtr<IXMLNodeList> items = doc->GetDocumentElement()->GetChildNodes();
    std::size_t total = 0;
    for (std::int32_t i = 0; i < items->GetCount(); ++i) total += items->Get(i)->GetText().size();
    benchmark::DoNotOptimize(total);
  }
  Finish(state);
}

#define SIZES RangeMultiplier(10)->Range(1'000, 100'000)->Complexity(benchmark::oN)
BENCHMARK(BM_BuildNodeByNode)->SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Save)->SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Parse)->SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WalkChildList)->SIZES->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
