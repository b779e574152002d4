#include <filesystem>
#include <fstream>

#include "transport/SOAPHTTPTrans.h"

namespace delvan::transport {

namespace {
bool IsHttpLocation(UnicodeStringView location) {
  for (UnicodeStringView scheme : {u"http://", u"https://"})
    if (location.size() >= scheme.size() &&
        rtl::SameTextAscii(location.substr(0, scheme.size()), scheme))
      return true;
  return false;
}
}  // namespace

void TStreamLoader::Load(const UnicodeString& location, TStream& stream) const {
  const UnicodeString where = rtl::Trim(location);
  if (IsHttpLocation(where)) {
    // Without owner: the reference held here ends it, also on failure.
    IntfPtr<THTTPReqResp> node(new THTTPReqResp(nullptr));
    node->SetURL(where);
    node->SetUserName(UserName);
    node->SetPassword(Password);
    node->SetProxy(Proxy);
    if (Timeout != 0) {
      node->SetConnectTimeout(Timeout);
      node->SetSendTimeout(Timeout);
      node->SetReceiveTimeout(Timeout);
    }
    node->Get(stream);
    return;
  }
  std::ifstream in(std::filesystem::path(where), std::ios::binary);
  // The loader's own message: the file layer of the runtime has none to give.
  if (!in) throw EStreamError(u"Cannot open file \"%s\"", {where});
  char buffer[64 * 1024];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) stream.WriteBuffer(buffer, in.gcount());
}

}  // namespace delvan::transport
