// The registry service as an independent SOAP toolkit serves it: the gSOAP
// service skeleton generated from RgWsPublic.wsdl, with the operation filled
// in over one taxpayer of the mock service's data set. Plain HTTP on
// 127.0.0.1, on a free port that it prints on its first line. Each request
// it reads is logged to the file named by its argument as the toolkit parsed
// it. It stops after 120 seconds in any case.
//   rgws-gsoap-server LOGFILE
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>

#include "RgWsPublicPortBinding.nsmap"
#include "soapRgWsPublicPortBindingService.h"

namespace {

std::string* Text(soap* s, const char* value) {
  std::string* out = soap_new_std__string(s);
  *out = value;
  return out;
}

std::ofstream g_log;

}  // namespace

int RgWsPublicPortBindingService::rgWsPublicAfmMethod(
    ns1__RgWsPublicInputRtUser* in, ns1__RgWsPublicBasicRtUser*, ns1__RgWsPublicFirmActRtUserArray*,
    const std::string& callSeqIdIn, ns1__GenWsErrorRtUser*, ns1__rgWsPublicAfmMethodResponse& out) {
  const std::string by = in && in->afmCalledBy ? *in->afmCalledBy : "<none>";
  const std::string afm = in && in->afmCalledFor ? *in->afmCalledFor : "<none>";
  // The toolkit keeps the Security block, declared in the envelope
  // namespace, as the text of a must-understand header entry.
  const char* security =
      soap->header && soap->header->SOAP_ENV__Security ? soap->header->SOAP_ENV__Security : "none";
  g_log << "afmCalledBy=" << by << ";afmCalledFor=" << afm << ";pCallSeqId_out=" << callSeqIdIn
        << ";security=" << security << std::endl;

  out._pCallSeqId_USCOREout = "123456789";
  auto* error = soap_new_ns1__GenWsErrorRtUser(soap);
  error->errorDescr = Text(soap, "Δεν βρέθηκε");
  error->errorCode = Text(soap, "RG_WS_PUBLIC_TAXPAYER_NOT_FOUND");
  out._pErrorRec_USCOREout = error;
  if (afm != "094019245") return SOAP_OK;

  auto* basic = soap_new_ns1__RgWsPublicBasicRtUser(soap);
  basic->afm = Text(soap, "094019245");
  basic->postalAddressNo = Text(soap, "5");
  basic->doyDescr = Text(soap, "ΦΑΕ-ΑΘΗΝΩΝ");
  basic->doy = Text(soap, "1159");
  basic->onomasia = Text(soap, "ΕΛΛΗΝΙΚΗ ΕΤΑΙΡΕΙΑ \"ΔΕΛΤΑ\" Α.Ε.");
  basic->legalStatusDescr = Text(soap, "ΑΕ");
  basic->registDate = static_cast<time_t*>(soap_malloc(soap, sizeof(time_t)));
  *basic->registDate = 930776400;  // 1999-07-01T00:00:00+03:00
  basic->deactivationFlag = Text(soap, "1");
  basic->deactivationFlagDescr = Text(soap, "ΕΝΕΡΓΟΣ");
  basic->postalAddress = Text(soap, "ΣΤΑΔΙΟΥ");
  basic->firmFlagDescr = Text(soap, "ΕΠΙΤΗΔΕΥΜΑΤΙΑΣ");
  basic->commerTitle = Text(soap, "ΔΕΛΤΑ");
  basic->postalAreaDescription = Text(soap, "ΑΘΗΝΑ");
  basic->INiFlagDescr = Text(soap, "ΟΧΙ");
  basic->postalZipCode = Text(soap, "10564");
  out._RgWsPublicBasicRt_USCOREout = basic;

  auto* list = soap_new_ns1__RgWsPublicFirmActRtUserArray(soap);
  auto* first = soap_new_ns1__RgWsPublicFirmActRtUser(soap);
  first->firmActDescr = Text(soap, "ΧΟΝΔΡΕΜΠΟΡΙΟ");
  first->firmActKind = Text(soap, "1");
  first->firmActKindDescr = Text(soap, "ΚΥΡΙΑ");
  first->firmActCode = Text(soap, "46190000");
  auto* second = soap_new_ns1__RgWsPublicFirmActRtUser(soap);
  second->firmActDescr = Text(soap, "ΛΙΑΝΙΚΟ ΕΜΠΟΡΙΟ");
  second->firmActKind = Text(soap, "2");
  second->firmActKindDescr = Text(soap, "ΔΕΥΤΕΡΕΥΟΥΣΑ");
  list->RgWsPublicFirmActRtUser = {first, second};
  out._arrayOfRgWsPublicFirmActRt_USCOREout = list;
  return SOAP_OK;
}

int RgWsPublicPortBindingService::rgWsPublicVersionInfo(ns1__rgWsPublicVersionInfoResponse& out) {
  out.result = "gSOAP interop server";
  return SOAP_OK;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: rgws-gsoap-server LOGFILE\n");
    return 2;
  }
  g_log.open(argv[1], std::ios::app);
  alarm(120);
  RgWsPublicPortBindingService service(SOAP_C_UTFSTRING);
  service.soap->bind_flags = SO_REUSEADDR;
  service.soap->recv_timeout = 30;
  service.soap->send_timeout = 30;
  if (!soap_valid_socket(service.bind("127.0.0.1", 0, 16))) {
    service.soap_stream_fault(std::cerr);
    return 1;
  }
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  getsockname(service.soap->master, reinterpret_cast<sockaddr*>(&addr), &len);
  std::printf("%u\n", ntohs(addr.sin_port));
  std::fflush(stdout);
  for (;;) {
    if (!soap_valid_socket(service.accept())) break;
    if (service.serve() != SOAP_OK) {
      service.soap_stream_fault(std::cerr);
      g_log << "fault" << std::endl;
    }
    service.destroy();
  }
  return 0;
}
