// The exported lookup call.
#include "delvan.h"

#include <mutex>
#include <new>
#include <string>

#include "lookup/FailureText.h"
#include "lookup/Lookup.h"
#include "lookup/ResultText.h"
#include "rtl/Exception.h"
#include "service/CredentialsHeader.h"
#include "service/ProxyFactory.h"

namespace delvan::lookup {
namespace {

using namespace service;

// Calls are serialised so that two host threads never send each other's
// credentials through the shared header.
std::mutex gCallLock;

// The objects one call owns; freed in this order whatever happens.
struct CallObjects {
  RgWsPublicBasicRtUser* auser = nullptr;
  GenWsErrorRtUser* aerror = nullptr;
  RgWsPublicInputRtUser* ainput = nullptr;
  TXSDecimal* callSeqId = nullptr;
  IntfPtr<RgWsPublic> proxy;
  RgWsPublicFirmActRtUserArray activities;

  ~CallObjects() {
    delete auser;
    delete aerror;
    delete ainput;
    delete callSeqId;
    proxy.reset();
    FreeActivities(activities);
  }
};

UnicodeString FromAnsi(const char* text) {
  return platform::MultiByteToWideChar(platform::CP_ACP, 0, text ? text : "");
}

AnsiString AsUtf8(const char* text) { return AnsiString(text ? text : "", platform::CP_UTF8); }

}  // namespace

AnsiString Lookup(const char* afmCalledBy, const char* afmCalledFor, const char* username,
                  const char* password, UnicodeStringView Addr) {
  std::lock_guard lock(gCallLock);
  CallObjects call;
  call.auser = new RgWsPublicBasicRtUser();
  call.aerror = new GenWsErrorRtUser();
  call.ainput = new RgWsPublicInputRtUser();
  call.callSeqId = new TXSDecimal();
  try {
    call.ainput->FafmCalledFor = FromAnsi(afmCalledFor);
    call.ainput->FafmCalledBy = FromAnsi(afmCalledBy);
    call.callSeqId->XSToNative(u"0");
    if (!crheader) throw Exception(u"The library is not initialised");
    crheader->FUsername = AsUtf8(username);
    crheader->FPassword = AsUtf8(password);
    call.proxy = GetRgWsPublic(false, Addr, nullptr);
    call.proxy->rgWsPublicAfmMethod(call.ainput, call.auser, call.activities, call.callSeqId,
                                    call.aerror);
    return OrganizeOutputData(call.auser, call.aerror, call.activities);
  } catch (const Exception& e) {
    return AddGeneralError(e.Message());
  } catch (const std::bad_alloc&) {
    return AddGeneralError(u"Out of memory");
  } catch (const std::exception& e) {
    return AddGeneralError(platform::MultiByteToWideChar(platform::CP_UTF8, 0, e.what()));
  }
}

}  // namespace delvan::lookup

// The returned text lives in a buffer of the calling thread, valid until that
// thread's next call. Nothing may leave this function as an exception.
extern "C" DELVAN_API const char* DELVAN_CALL RunWSOrvDLL(const char* afmCalledBy,
                                                          const char* afmCalledFor,
                                                          const char* username,
                                                          const char* password) {
  using namespace delvan;
  thread_local std::string result;
  try {
    AnsiString text = lookup::Lookup(afmCalledBy, afmCalledFor, username, password);
    result = text.Bytes();
  } catch (...) {
    // Out of memory before the call's own handler could run (or a lock
    // failure): the sentence alone, from static storage.
    return lookup::FailureSentence.data();
  }
  return result.c_str();
}
