// Fuzz target for the response side of a lookup: the input is the response
// body as the web node hands it back. It goes through the whole reader into
// the lookup's records and then into the result text, as the export does.
// Any failure must be an Exception; nothing may crash, leak or hang.
#include <cstdint>
#include <string>

#include "lookup/LibraryInit.h"
#include "lookup/ResultText.h"
#include "service/CredentialsHeader.h"
#include "service/ProxyFactory.h"
#include "soap/RioFakes.h"

using namespace delvan;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  InitializeLibrary();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TComponent owner;
  auto* rio = new soap::THTTPRIO(&owner);
  auto* web = new test::TFakeWebNode(rio);
  web->answer.assign(reinterpret_cast<const char*>(data), size);
  rio->SetHTTPWebNode(web);
  test::AfmCall call;
  call.input->FafmCalledFor = u"094019245";
  try {
    IntfPtr<service::RgWsPublic> port = service::GetRgWsPublic(false, u"http://127.0.0.1/", rio);
    call.Run(*port);
    lookup::OrganizeOutputData(call.basic, call.error, call.activities);
  } catch (const Exception&) {
    // A failure text; what matters is that it is raised cleanly.
  }
  return 0;
}
