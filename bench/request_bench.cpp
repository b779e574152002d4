// Writing the lookup's request, from the records to the bytes of the
// envelope: once as the entry sends it, and with N = 10, 1 000 and 100 000
// activity objects in the array argument. The second is linear in N: the
// time per object (items per second and the O(N) fit) stays within a small
// factor across the range.
#include <benchmark/benchmark.h>

#include "lookup/LibraryInit.h"
#include "service/CredentialsHeader.h"
#include "service/RgWsPublic.h"
#include "soap/IntfInfo.h"
#include "soap/InvContext.h"
#include "soap/OPToSOAPDomConv.h"

namespace {

using namespace delvan;
using namespace delvan::service;
using namespace delvan::soap;

// The arguments of one call, as the entry passes them.
struct Call {
  RgWsPublicInputRtUser* in = new RgWsPublicInputRtUser();
  RgWsPublicBasicRtUser* basic = new RgWsPublicBasicRtUser();
  RgWsPublicFirmActRtUserArray acts;
  TXSDecimal* seq = new TXSDecimal();
  GenWsErrorRtUser* err = new GenWsErrorRtUser();
  TInvContext ctx;
  TIntfMetaData md = GetIntfMetaData(&TypeInfo_RgWsPublic);
  AFMCredentialsHeader cred;
  THeaderList headers{false};

  explicit Call(std::int64_t activities) {
    in->FafmCalledBy = u"094019245";
    in->FafmCalledFor = u"\u0395\u039b998877665";
    seq->XSToNative(u"0");
    for (std::int64_t i = 0; i < activities; ++i) {
      auto* act = new RgWsPublicFirmActRtUser();
      act->FfirmActDescr =
          u"\u0394\u03a1\u0391\u03a3\u03a4\u0397\u03a1\u0399\u039f\u03a4\u0397\u03a4\u0391";
      act->FfirmActKind = u"1";
      act->FfirmActCode = new TXSDecimal();
      act->FfirmActCode->XSToNative(u"62010000");
      acts.push_back(act);
    }
    ctx.SetMethodInfo(5);
    void* args[] = {&in, &basic, &acts, &seq, &err};
    for (std::size_t i = 0; i < 5; ++i) ctx.SetParamPointer(i, args[i]);
    cred.usr(AnsiString("user", platform::CP_UTF8));
    cred.pwd(AnsiString("Pa&ss<word", platform::CP_UTF8));
    headers.Add(&cred);
  }
  ~Call() {
    delete in;
    delete basic;
    FreeActivities(acts);
    delete seq;
    delete err;
  }
};

void Write(benchmark::State& state, std::int64_t activities) {
  Call call(activities);
  IntfPtr<IOPConvert> conv(new TOPToSoapDomConvert());
  conv->SetOptions(conv->GetOptions() | TSOAPConvertOptions{soLiteralParams});
  std::int64_t bytes = 0;
  for (auto _ : state) {
    std::unique_ptr<TStream> out = conv->InvContextToMsg(call.md, 3, &call.ctx, &call.headers);
    bytes += out->Size();
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(bytes);
}

void BM_LookupRequest(benchmark::State& state) { Write(state, 0); }

void BM_RequestWithActivities(benchmark::State& state) {
  Write(state, state.range(0));
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.SetComplexityN(state.range(0));
}

}  // namespace

BENCHMARK(BM_LookupRequest)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RequestWithActivities)
    ->Arg(10)
    ->Arg(1000)
    ->Arg(100000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  // The registries, the DOM vendor and the service's registrations, as loading does.
  delvan::InitializeLibrary();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  delvan::FinalizeLibrary();
  return 0;
}
