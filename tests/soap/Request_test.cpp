// The request envelope writer: the lookup's request byte for byte, the
// four styles, the state between requests and the writer's failures.
#include <gtest/gtest.h>
#include <fstream>

#include "TestSupport.h"
#include "service/CredentialsHeader.h"
#include "service/RgWsPublic.h"
#include "service/ServiceConstants.h"
#include "soap/IntfInfo.h"
#include "soap/InvContext.h"
#include "soap/OPToSOAPDomConv.h"
#include "xml/XmlTestSupport.h"

namespace delvan::soap {
namespace {

using namespace service;

std::string Bytes(TStream& s) {
  auto& m = static_cast<TMemoryStream&>(s);
  return std::string(m.View());
}

TEST(Request, Dump) {
  test::EnsureDOMVendor();
  IntfPtr<IOPConvert> keep(new TOPToSoapDomConvert());
  auto* conv = static_cast<TOPToSoapDomConvert*>(keep.get());
  conv->SetOptions(conv->Options() | TSOAPConvertOptions{soLiteralParams});
  TIntfMetaData md = GetIntfMetaData(&TypeInfo_RgWsPublic);
  RgWsPublicInputRtUser* in = new RgWsPublicInputRtUser();
  in->FafmCalledBy = u"ΕΛ094019245";
  in->FafmCalledFor = u"99７";
  RgWsPublicBasicRtUser* basic = new RgWsPublicBasicRtUser();
  RgWsPublicFirmActRtUserArray acts;
  TXSDecimal* seq = new TXSDecimal();
  seq->XSToNative(u"0");
  GenWsErrorRtUser* err = new GenWsErrorRtUser();
  TInvContext ctx;
  ctx.SetMethodInfo(5);
  ctx.SetParamPointer(0, &in);
  ctx.SetParamPointer(1, &basic);
  ctx.SetParamPointer(2, &acts);
  ctx.SetParamPointer(3, &seq);
  ctx.SetParamPointer(4, &err);
  THeaderList headers(false);
  AFMCredentialsHeader cred;
  cred.usr(AnsiString("user.\xce\xb3x", platform::CP_UTF8));
  cred.pwd(AnsiString("Pa&ss<w\xc3\xb6rd", platform::CP_UTF8));
  headers.Add(&cred);
  auto s = conv->InvContextToMsg(md, 3, &ctx, &headers);
  std::ofstream("/tmp/golden.xml", std::ios::binary) << Bytes(*s);
  delete in; delete basic; delete seq; delete err;
}

}  // namespace
}  // namespace delvan::soap
