// One lookup in process, as the comparison's peer and the benchmarks run
// it: the request written from the call's values and the credentials
// header, the response's bytes read from a stream into the records, and the
// result text made of them; everything freed again.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>

#include "lookup/ResultText.h"
#include "rtl/Stream.h"
#include "service/CredentialsHeader.h"
#include "service/RgWsPublic.h"
#include "soap/IntfInfo.h"
#include "soap/InvContext.h"
#include "soap/OPToSOAPDomConv.h"

namespace delvan::bench {

// The converter and the lookup's method, set up once for many lookups.
struct TLookupConverter {
  TLookupConverter() : conv(new soap::TOPToSoapDomConvert()), keep(conv) {
    conv->SetOptions(conv->Options() | soap::TSOAPConvertOptions{soap::soLiteralParams});
    md = soap::GetIntfMetaData(&service::TypeInfo_RgWsPublic);
    for (std::size_t i = 0; i < md.MDA.size(); ++i)
      if (md.MDA[i].Name == u"rgWsPublicAfmMethod") {
        meth = md.MDA[i];
        index = static_cast<std::int32_t>(i);
      }
  }
  soap::TOPToSoapDomConvert* conv;
  IntfPtr<soap::IOPConvert> keep;
  soap::TIntfMetaData md;
  soap::TIntfMethEntry meth;
  std::int32_t index = 0;
};

// The caller's variables of one call, bound to an invocation context in
// the method's order, and freed with whatever the call left in them.
struct TCallRecords {
  service::RgWsPublicInputRtUser* input = new service::RgWsPublicInputRtUser();
  service::RgWsPublicBasicRtUser* basic = new service::RgWsPublicBasicRtUser();
  service::RgWsPublicFirmActRtUserArray acts;
  soap::TXSDecimal* seq = new soap::TXSDecimal();
  service::GenWsErrorRtUser* err = new service::GenWsErrorRtUser();

  explicit TCallRecords(const TLookupConverter& c) {
    ctx.SetMethodInfo(c.meth.Params.size());
    void* args[] = {&input, &basic, &acts, &seq, &err};
    for (std::size_t i = 0; i < 5; ++i) ctx.SetParamPointer(i, args[i]);
  }
  TCallRecords(const TCallRecords&) = delete;
  TCallRecords& operator=(const TCallRecords&) = delete;
  ~TCallRecords() {
    service::FreeActivities(acts);
    delete input;
    delete basic;
    delete seq;
    delete err;
  }
  soap::TInvContext ctx;
};

// The response's bytes in response read (from its start) into a call's
// records; the number of activities read.
inline std::size_t ReadOnce(const TLookupConverter& c, TStream& response) {
  TCallRecords call(c);
  response.SetPosition(0);
  c.conv->ProcessResponse(response, c.md, c.meth, &call.ctx, nullptr);
  return call.acts.size();
}

// One whole lookup over the response's bytes in response (read from its
// start); the number of activities read.
inline std::size_t LookupOnce(const TLookupConverter& c, TStream& response) {
  TCallRecords call(c);
  call.input->FafmCalledBy = u"012345678";
  call.input->FafmCalledFor = u"094019245";
  call.seq->XSToNative(u"0");
  service::AFMCredentialsHeader cred;
  cred.usr(AnsiString("user", platform::CP_UTF8));
  cred.pwd(AnsiString("Pa&ss<word", platform::CP_UTF8));
  soap::THeaderList headers{false};
  headers.Add(&cred);
  std::unique_ptr<TStream> request = c.conv->InvContextToMsg(c.md, c.index, &call.ctx, &headers);
  response.SetPosition(0);
  c.conv->ProcessResponse(response, c.md, c.meth, &call.ctx, nullptr);
  if (request->Size() == 0 || lookup::OrganizeOutputData(call.basic, call.err, call.acts).IsEmpty())
    throw std::runtime_error("empty request or result");
  return call.acts.size();
}

}  // namespace delvan::bench
