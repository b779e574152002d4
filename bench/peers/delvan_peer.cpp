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

#include "lookup/LibraryInit.h"
#include "lookup/ResultText.h"
#include "rtl/Stream.h"
#include "service/CredentialsHeader.h"
#include "service/RgWsPublic.h"
#include "soap/IntfInfo.h"
#include "soap/InvContext.h"
#include "soap/OPToSOAPDomConv.h"

using namespace delvan;
using namespace delvan::service;
using namespace delvan::soap;

namespace {

std::size_t Lookup(TOPToSoapDomConvert& conv, const TIntfMetaData& md, const TIntfMethEntry& meth,
                   std::int32_t methIndex, TStream& response) {
  auto* input = new RgWsPublicInputRtUser();
  auto* basic = new RgWsPublicBasicRtUser();
  RgWsPublicFirmActRtUserArray acts;
  auto* seq = new TXSDecimal();
  auto* err = new GenWsErrorRtUser();
  input->FafmCalledBy = u"012345678";
  input->FafmCalledFor = u"094019245";
  seq->XSToNative(u"0");
  AFMCredentialsHeader cred;
  cred.usr(AnsiString("user", platform::CP_UTF8));
  cred.pwd(AnsiString("Pa&ss<word", platform::CP_UTF8));
  THeaderList headers{false};
  headers.Add(&cred);
  TInvContext ctx;
  ctx.SetMethodInfo(meth.Params.size());
  void* args[] = {&input, &basic, &acts, &seq, &err};
  for (std::size_t i = 0; i < 5; ++i) ctx.SetParamPointer(i, args[i]);

  std::unique_ptr<TStream> request = conv.InvContextToMsg(md, methIndex, &ctx, &headers);
  response.SetPosition(0);
  conv.ProcessResponse(response, md, meth, &ctx, nullptr);
  const AnsiString text = lookup::OrganizeOutputData(basic, err, acts);
  if (request->Size() == 0 || text.IsEmpty()) throw std::runtime_error("empty request or result");
  const std::size_t n = acts.size();  // activities read
  FreeActivities(acts);
  delete input;
  delete basic;
  delete seq;
  delete err;
  return n;
}

}  // namespace

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
    IntfPtr<IOPConvert> keep(new TOPToSoapDomConvert());
    auto* conv = static_cast<TOPToSoapDomConvert*>(keep.get());
    conv->SetOptions(conv->Options() | TSOAPConvertOptions{soLiteralParams});
    TIntfMetaData md = GetIntfMetaData(&TypeInfo_RgWsPublic);
    std::int32_t index = 0;
    TIntfMethEntry meth;
    for (std::size_t i = 0; i < md.MDA.size(); ++i)
      if (md.MDA[i].Name == u"rgWsPublicAfmMethod") {
        meth = md.MDA[i];
        index = static_cast<std::int32_t>(i);
      }
    std::vector<double> us;
    std::size_t sink = 0;
    try {
      for (int r = 0; r < reps; ++r) {
        auto t0 = std::chrono::steady_clock::now();
        sink = Lookup(*conv, md, meth, index, response);
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
