#include "transport/SOAPHTTPTrans.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "platform/CodePage.h"
#include "soap/InvokeRegistry.h"

namespace delvan::transport {

using rtl::TObject;
using rtl::TPropInfo;

namespace pf = platform;

namespace {

constexpr std::u16string_view kUnit = u"Soap.SOAPHTTPTrans";

// ---- Type information of the option sets

constexpr std::u16string_view kInvokeOptionNames[] = {
    u"soNoValueForEmptySOAPAction", u"soIgnoreInvalidCerts", u"soNoSOAPActionHeader",
    u"soAutoCheckAccessPointViaUDDI", u"soPickFirstClientCertificate"};
constexpr std::u16string_view kWebNodeOptionNames[] = {u"wnoSOAP12"};

constinit const rtl::TOrdinalTypeData kInvokeOptionData{
    rtl::otUByte, 0, 4, &TypeInfo_SOAPInvokeOptions, kInvokeOptionNames};
constinit const rtl::TSetTypeData kInvokeOptionsData{&TypeInfo_SOAPInvokeOptions};
constinit const rtl::TOrdinalTypeData kWebNodeOptionData{
    rtl::otUByte, 0, 0, &TypeInfo_WebNodeOption, kWebNodeOptionNames};
constinit const rtl::TSetTypeData kWebNodeOptionsData{&TypeInfo_WebNodeOption};

// ---- Platform helpers

// The text of a UTF-16 value HttpQueryInfoW wrote into buffer (bytes long,
// without its terminating NUL), at most capacity - 1 characters.
UnicodeString QueriedText(const char16_t* buffer, std::uint32_t bytes, std::size_t capacity) {
  std::size_t n = std::min<std::size_t>(bytes / sizeof(char16_t), capacity - 1);
  while (n > 0 && buffer[n - 1] == u'\0') --n;
  return UnicodeString(buffer, n);
}

// The part of url that the platform's cracker points at, copied out by
// position and length; empty when the part lies outside url.
UnicodeString UrlPart(const UnicodeString& url, const char16_t* part, std::uint32_t length) {
  if (!part || part < url.data() || part > url.data() + url.size()) return {};
  const std::size_t at = static_cast<std::size_t>(part - url.data());
  return url.substr(at, std::min<std::size_t>(length, url.size() - at));
}

bool StartsWithText(UnicodeStringView text, UnicodeStringView prefix) {
  return text.size() >= prefix.size() && rtl::SameTextAscii(text.substr(0, prefix.size()), prefix);
}

// The boundary parameter of a multipart/related Content-Type, without
// quotes and cut at the next ";"; empty for any other type.
UnicodeString MultipartBoundary(UnicodeStringView contentType) {
  if (!StartsWithText(contentType, u"multipart/related")) return {};
  constexpr UnicodeStringView kParam = u"boundary=";
  for (std::size_t at = 0; at + kParam.size() <= contentType.size(); ++at) {
    if (!rtl::SameTextAscii(contentType.substr(at, kParam.size()), kParam)) continue;
    UnicodeStringView value = contentType.substr(at + kParam.size());
    value = value.substr(0, value.find(u';'));
    UnicodeString boundary;
    for (char16_t c : value)
      if (c != u'"') boundary += c;
    return rtl::Trim(boundary);
  }
  return {};
}

// Upper-case hexadecimal of bytes, two digits each, in their order.
UnicodeString HexOf(std::span<const std::uint8_t> bytes) {
  constexpr char16_t kDigits[] = u"0123456789ABCDEF";
  UnicodeString hex;
  hex.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    hex += kDigits[b >> 4];
    hex += kDigits[b & 15];
  }
  return hex;
}

// The error to raise for a failure that cannot be passed over: code, or an
// internal error when the platform left none.
std::uint32_t OrInternal(std::uint32_t code) {
  return code != pf::ERROR_SUCCESS ? code : pf::ERROR_INTERNET_INTERNAL_ERROR;
}
std::uint32_t FailureCode() { return OrInternal(pf::GetLastError()); }

// ---- Published properties

using StrSetter = void (*)(TObject*, const UnicodeString&);

constexpr TPropInfo WithSetter(TPropInfo p, StrSetter setter) {
  p.SetStr = setter;
  return p;
}

}  // namespace

constinit const rtl::TTypeInfo TypeInfo_SOAPInvokeOptions{rtl::tkEnumeration, u"SOAPInvokeOptions",
                                                          kUnit, &kInvokeOptionData};
constinit const rtl::TTypeInfo TypeInfo_TSOAPInvokeOptions{rtl::tkSet, u"TSOAPInvokeOptions", kUnit,
                                                           &kInvokeOptionsData};
constinit const rtl::TTypeInfo TypeInfo_WebNodeOption{rtl::tkEnumeration, u"WebNodeOption", kUnit,
                                                      &kWebNodeOptionData};
constinit const rtl::TTypeInfo TypeInfo_TWebNodeOptions{rtl::tkSet, u"TWebNodeOptions", kUnit,
                                                        &kWebNodeOptionsData};

constinit const TPropInfo TClientCert::kProps[] = {
    rtl::MakeProp<&TClientCert::FCertName>(u"CertName"),
    rtl::MakeProp<&TClientCert::FIssuer>(u"Issuer"),
    rtl::MakeProp<&TClientCert::FSerialNum>(u"SerialNum"),
};

constinit const rtl::TClass TClientCert::StaticClass = rtl::DefineClass<TClientCert, TComponent>(
    TClientCert::StaticClass, u"TClientCert", kUnit, TClientCert::kProps);

constinit const rtl::TClass TWSDLView::StaticClass =
    rtl::DefineClass<TWSDLView, TComponent>(TWSDLView::StaticClass, u"TWSDLView", kUnit);

constinit const TPropInfo THTTPReqResp::kProps[] = {
    WithSetter(
        rtl::MakeProp<&THTTPReqResp::FURL>(u"URL"),
        [](TObject* o, const UnicodeString& v) { static_cast<THTTPReqResp*>(o)->SetURL(v); }),
    [] {
      TPropInfo p = rtl::MakeProp<&THTTPReqResp::FSoapAction>(u"SoapAction");
      p.GetStr = [](const TObject* o) { return static_cast<const THTTPReqResp*>(o)->SoapAction(); };
      return p;
    }(),
    [] {
      TPropInfo p = rtl::MakeProp<&THTTPReqResp::FAgent>(u"Agent");
      p.IsStored = [](const TObject* o) {
        return static_cast<const THTTPReqResp*>(o)->IsAgentStored();
      };
      return p;
    }(),
    WithSetter(
        rtl::MakeProp<&THTTPReqResp::FUserName>(u"UserName"),
        [](TObject* o, const UnicodeString& v) { static_cast<THTTPReqResp*>(o)->SetUserName(v); }),
    WithSetter(
        rtl::MakeProp<&THTTPReqResp::FPassword>(u"Password"),
        [](TObject* o, const UnicodeString& v) { static_cast<THTTPReqResp*>(o)->SetPassword(v); }),
    WithSetter(
        rtl::MakeProp<&THTTPReqResp::FProxy>(u"Proxy"),
        [](TObject* o, const UnicodeString& v) { static_cast<THTTPReqResp*>(o)->SetProxy(v); }),
    rtl::MakeProp<&THTTPReqResp::FProxyByPass>(u"ProxyByPass"),
    rtl::MakeProp<&THTTPReqResp::FConnectTimeout>(u"ConnectTimeout"),
    rtl::MakeProp<&THTTPReqResp::FSendTimeout>(u"SendTimeout"),
    rtl::MakeProp<&THTTPReqResp::FReceiveTimeout>(u"ReceiveTimeout"),
    rtl::MakeProp<&THTTPReqResp::FMaxSinglePostSize>(u"MaxSinglePostSize"),
    rtl::MakeProp<&THTTPReqResp::FUseUTF8InHeader>(u"UseUTF8InHeader"),
    [] {
      TPropInfo p = rtl::MakeProp<&THTTPReqResp::FInvokeOptions>(u"InvokeOptions", rtl::kNoIndex,
                                                                 &TypeInfo_TSOAPInvokeOptions);
      p.GetOrd = [](const TObject* o) {
        return static_cast<std::int64_t>(
            static_cast<const THTTPReqResp*>(o)->FInvokeOptions.Bits());
      };
      p.SetOrd = [](TObject* o, std::int64_t v) {
        static_cast<THTTPReqResp*>(o)->FInvokeOptions =
            TSOAPInvokeOptions::FromBits(static_cast<std::uint64_t>(v));
      };
      return p;
    }(),
    [] {
      TPropInfo p = rtl::MakeProp<&THTTPReqResp::FWebNodeOptions>(u"WebNodeOptions", rtl::kNoIndex,
                                                                  &TypeInfo_TWebNodeOptions);
      p.GetOrd = [](const TObject* o) {
        return static_cast<std::int64_t>(
            static_cast<const THTTPReqResp*>(o)->FWebNodeOptions.Bits());
      };
      p.SetOrd = [](TObject* o, std::int64_t v) {
        static_cast<THTTPReqResp*>(o)->FWebNodeOptions =
            TWebNodeOptions::FromBits(static_cast<std::uint64_t>(v));
      };
      return p;
    }(),
    rtl::MakeProp<&THTTPReqResp::FUDDIBindingKey>(u"UDDIBindingKey"),
    rtl::MakeProp<&THTTPReqResp::FUDDIOperator>(u"UDDIOperator"),
    [] {
      TPropInfo p = rtl::MakeProp<&THTTPReqResp::FClientCertificate>(u"ClientCertificate");
      p.SetObj = nullptr;  // read-only; its own properties are writable
      return p;
    }(),
    [] {
      TPropInfo p = rtl::MakeProp<&THTTPReqResp::FWSDLView>(u"WSDLView");
      p.SetObj = [](TObject* o, TObject* v) {
        static_cast<THTTPReqResp*>(o)->SetWSDLView(static_cast<TWSDLView*>(v));
      };
      return p;
    }(),
};

constinit const rtl::TClass THTTPReqResp::StaticClass = rtl::DefineClass<THTTPReqResp, TComponent>(
    THTTPReqResp::StaticClass, u"THTTPReqResp", kUnit, THTTPReqResp::kProps);

// ---- Life

THTTPReqResp::THTTPReqResp(TComponent* owner)
    : TComponent(owner),
      FOwnerIsComponent(owner != nullptr),
      FClientCertificate(new TClientCert(this)) {
  FClientCertificate->SetName(u"ClientCert1");
  FClientCertificate->SetSubComponent(true);
}

THTTPReqResp::~THTTPReqResp() {
  Connect(false);
  SetCertContext(nullptr);
  SetCertStore(nullptr);
  delete std::exchange(FClientCertificate, nullptr);
}

HRESULT THTTPReqResp::QueryInterface(const TGUID& iid, void** obj) {
  if (!obj) return E_POINTER;
  if (iid == IInterface::IID || iid == IWebNode::IID)
    *obj = static_cast<IWebNode*>(this);
  else if (iid == IHTTPReqResp::IID)
    *obj = static_cast<IHTTPReqResp*>(this);
  else if (iid == IClientCertInfo::IID)
    *obj = static_cast<IClientCertInfo*>(this);
  else {
    *obj = nullptr;
    return E_NOINTERFACE;
  }
  _AddRef();
  return S_OK;
}

std::int32_t THTTPReqResp::_AddRef() {
  return FRefCount.fetch_add(1, std::memory_order_relaxed) + 1;
}

std::int32_t THTTPReqResp::_Release() {
  const std::int32_t n = FRefCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
  // An owned web node is destroyed by its owner only, also when it came
  // under an owner after it was made.
  if (n == 0 && !FOwnerIsComponent && !Owner()) delete this;
  return n;
}

void THTTPReqResp::Notification(TComponent* component, rtl::TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == rtl::TOperation::opRemove && component == FWSDLView) FWSDLView = nullptr;
}

// ---- Settings

void THTTPReqResp::SetURL(const UnicodeString& value) {
  FUserSetURL = !value.empty();
  InitURL(value);
  Connect(false);
}

void THTTPReqResp::InitURL(const UnicodeString& value) {
  if (value.empty()) {
    FURLPort = 0;
    FURLHost.clear();
    FURLSite.clear();
    FURLScheme = 0;
    FURL.clear();
    return;
  }
  // Asks for the scheme, the host and the path, nothing else: without a
  // separate extra-information part the path keeps a query and a fragment.
  pf::URL_COMPONENTSW parts;  // dwStructSize is the record's size (60 on 32-bit Windows)
  parts.dwSchemeLength = 1;
  parts.dwHostNameLength = 1;
  parts.dwUrlPathLength = 1;
  // The result is not consulted: a text the cracker cannot take apart
  // leaves a scheme code other than HTTP and HTTPS.
  pf::InternetCrackUrlW(value.c_str(), 0, 0, parts);
  if (parts.nScheme != pf::INTERNET_SCHEME_HTTP && parts.nScheme != pf::INTERNET_SCHEME_HTTPS)
    throw ESOAPHTTPException(u"Invalid url '%s' - only supports 'http' and 'https' schemes",
                             {value});
  FURLScheme = parts.nScheme;
  FURLPort = parts.nPort;
  FURLHost = UrlPart(value, parts.lpszHostName, parts.dwHostNameLength);
  FURLSite = UrlPart(value, parts.lpszUrlPath, parts.dwUrlPathLength);
  FURL = value;
}

UnicodeString THTTPReqResp::SoapAction() const {
  if (FSoapAction.empty() && !FInvokeOptions.Contains(soNoValueForEmptySOAPAction)) return u"\"\"";
  return FSoapAction;
}

void THTTPReqResp::SetUserName(const UnicodeString& value) {
  FUserName = value;
  if (FWSDLView) FWSDLView->UserName = value;
}

void THTTPReqResp::SetPassword(const UnicodeString& value) {
  FPassword = value;
  if (FWSDLView) FWSDLView->Password = value;
}

void THTTPReqResp::SetProxy(const UnicodeString& value) {
  FProxy = value;
  if (FWSDLView) FWSDLView->Proxy = value;
}

void THTTPReqResp::SetWSDLView(TWSDLView* value) {
  if (value == FWSDLView) return;
  if (FWSDLView) FWSDLView->RemoveFreeNotification(this);
  FWSDLView = value;
  if (FWSDLView) FWSDLView->FreeNotification(this);
}

void THTTPReqResp::SetCertStore(HCERTSTORE value) {
  if (value == FCertStore) return;
  if (FCertStore) pf::CertCloseStore(FCertStore, pf::CERT_CLOSE_STORE_FORCE_FLAG);
  FCertStore = value;
}

void THTTPReqResp::SetCertContext(PCCERT_CONTEXT value) {
  // No test for the same pointer: contexts are counted, and value may be a
  // second reference to the one held.
  if (FCertContext) pf::CertFreeCertificateContext(FCertContext);
  FCertContext = value;
}

// ---- Headers

UnicodeString THTTPReqResp::GetContentType() const {
  if (FWebNodeOptions.Contains(wnoSOAP12))
    return Format(u"%s;action=\"%s\"", {FUseUTF8InHeader ? u"application/soap+xml; charset=utf-8"
                                                         : u"application/soap+xml",
                                        SoapAction()});
  return FUseUTF8InHeader ? u"text/xml; charset=utf-8" : u"text/xml";
}

UnicodeString THTTPReqResp::GetSOAPActionHeader() const {
  const UnicodeString value = SoapAction();
  if (value.empty()) return u"SOAPAction:";
  UnicodeString line = u"SOAPAction: ";
  if (value == u"\"\"") {
    line += value;
  } else {
    // Not escaped: a value that carries quotes gets a second pair.
    line += u'"';
    line += value;
    line += u'"';
  }
  return line;
}

void THTTPReqResp::AddHeaders(HINTERNET request) const {
  UnicodeString contentType = u"Content-Type: ";
  if (FBindingType == btMime) {
    contentType += u"multipart/related; boundary=";
    contentType += FMimeBoundary.Decode();
    pf::HttpAddRequestHeadersW(request, u"MIME-Version: 1.0", pf::HTTP_ADDREQ_FLAG_ADD);
  } else {
    contentType += GetContentType();
  }
  if (FBindingType == btMime ||
      (!FInvokeOptions.Contains(soNoSOAPActionHeader) && !FWebNodeOptions.Contains(wnoSOAP12)))
    pf::HttpAddRequestHeadersW(request, GetSOAPActionHeader(), pf::HTTP_ADDREQ_FLAG_ADD);
  pf::HttpAddRequestHeadersW(request, contentType, pf::HTTP_ADDREQ_FLAG_ADD);
}

// ---- Errors

void THTTPReqResp::RaiseCheck(std::uint32_t code) const {
  UnicodeString text =
      pf::FormatMessageW(pf::FORMAT_MESSAGE_FROM_SYSTEM | pf::FORMAT_MESSAGE_FROM_HMODULE,
                         u"wininet.dll", code, 0, 256);
  while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n')) text.pop_back();
  throw ESOAPHTTPException(u"%s - URL:%s - SOAPAction:%s", {text, FURL, SoapAction()},
                           static_cast<int>(code));
}

void THTTPReqResp::StartResponseClock() {
  const auto effective = [](std::int32_t value, std::uint32_t fallback) {
    return value > 0 ? static_cast<std::uint32_t>(value) : fallback;
  };
  FResponseDeadlineMs =
      pf::ResponseDeadlineMs(effective(FConnectTimeout, pf::kDefaultConnectTimeoutMs),
                             effective(FReceiveTimeout, pf::kDefaultReceiveTimeoutMs));
  FResponseDeadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(FResponseDeadlineMs);
}

bool THTTPReqResp::ResponseDeadlinePassed() const {
  return FResponseDeadlineMs != 0 && std::chrono::steady_clock::now() >= FResponseDeadline;
}

void THTTPReqResp::RaiseResponseDeadline() const {
  const UnicodeString text = Format(u"The server did not complete its answer within %d seconds",
                                    {static_cast<int>((FResponseDeadlineMs + 999) / 1000)});
  throw ESOAPHTTPException(u"%s - URL:%s - SOAPAction:%s", {text, FURL, SoapAction()},
                           static_cast<int>(pf::ERROR_INTERNET_TIMEOUT));
}

void THTTPReqResp::Check(bool failed) const {
  if (!failed) return;
  const std::uint32_t code = pf::GetLastError();
  if (code != pf::ERROR_SUCCESS) RaiseCheck(code);
}

bool THTTPReqResp::ChooseClientCertificate(HINTERNET request) {
  if (!FCertStore) FCertStore = pf::CertOpenSystemStoreW(0, u"MY");
  if (!FCertStore) return false;
  const UnicodeString wanted = GetCertSerialNumber();
  PCCERT_CONTEXT found = nullptr;
  for (PCCERT_CONTEXT cert = pf::CertEnumCertificatesInStore(FCertStore, nullptr); cert;
       cert = pf::CertEnumCertificatesInStore(FCertStore, cert)) {
    if (rtl::SameTextAscii(HexOf(pf::CertGetSerialNumber(cert)), wanted)) {
      found = cert;  // ends the walk; the reference is ours
      break;
    }
  }
  if (!found) return false;
  SetCertContext(found);
  // 20: the size of the platform's certificate context record.
  pf::InternetSetOptionW(request, pf::INTERNET_OPTION_CLIENT_CERT_CONTEXT, found, 20);
  return true;
}

std::uint32_t THTTPReqResp::HandleWinInetError(std::uint32_t lastError, HINTERNET request,
                                               bool raiseError) {
  if (OnWinInetError) return OnWinInetError(lastError, request);
  if (lastError == pf::ERROR_INTERNET_INVALID_CA && Ignoring()) {
    std::uint32_t flags = 0, length = sizeof flags;
    pf::InternetQueryOptionW(request, pf::INTERNET_OPTION_SECURITY_FLAGS, &flags, length);
    flags |= pf::SECURITY_FLAG_IGNORE_UNKNOWN_CA;
    pf::InternetSetOptionW(request, pf::INTERNET_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
    return pf::ERROR_INTERNET_FORCE_RETRY;
  }
  if (lastError == pf::ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED) {
    if (!GetCertSerialNumber().empty()) {
      if (ChooseClientCertificate(request)) return pf::ERROR_INTERNET_FORCE_RETRY;
    } else if (FInvokeOptions.Contains(soPickFirstClientCertificate)) {
      const std::uint32_t first = 0;
      pf::InternetSetOptionW(request, pf::INTERNET_OPTION_SECURITY_SELECT_CLIENT_CERT, &first,
                             sizeof first);
      return pf::ERROR_INTERNET_FORCE_RETRY;
    }
  }
  if (raiseError) RaiseCheck(lastError);
  const std::uint32_t answer = pf::InternetErrorDlg(nullptr, request, lastError,
                                                    pf::FLAGS_ERROR_UI_FILTER_FOR_ERRORS |
                                                        pf::FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |
                                                        pf::FLAGS_ERROR_UI_FLAGS_GENERATE_DATA,
                                                    nullptr);
  // Without an error dialog on this platform the error is reported instead.
  if (answer == pf::ERROR_CALL_NOT_IMPLEMENTED) RaiseCheck(lastError);
  return lastError == pf::ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED ? pf::ERROR_INTERNET_FORCE_RETRY
                                                                 : answer;
}

// ---- Connection

void THTTPReqResp::Connect(bool open) {
  if (!open) {
    if (FInetConnect) pf::InternetCloseHandle(std::exchange(FInetConnect, nullptr));
    if (FInetRoot) pf::InternetCloseHandle(std::exchange(FInetRoot, nullptr));
    FConnected = false;
    return;
  }
  if (FConnected) return;
  if (pf::InternetAttemptConnect(0) != pf::ERROR_SUCCESS) throw EAbort();
  const std::uint32_t access =
      FProxy.empty() ? pf::INTERNET_OPEN_TYPE_PRECONFIG : pf::INTERNET_OPEN_TYPE_PROXY;
  FInetRoot = pf::InternetOpenW(FAgent, access, FProxy, FProxyByPass, 0);
  if (!FInetRoot) RaiseCheck(FailureCode());
  FInetConnect =
      pf::InternetConnectW(FInetRoot, FURLHost, FURLPort, FUserName, FPassword,
                           pf::INTERNET_SERVICE_HTTP, 0, reinterpret_cast<std::uintptr_t>(this));
  if (!FInetConnect) {
    const std::uint32_t code = FailureCode();
    pf::InternetCloseHandle(std::exchange(FInetRoot, nullptr));
    RaiseCheck(code);
  }
  FConnected = true;
}

// ---- Sending

void THTTPReqResp::SetTimeouts(HINTERNET request) const {
  const auto set = [&](std::uint32_t option, std::int32_t value) {
    if (value <= 0) return;  // the platform's default stays
    const std::uint32_t ms = static_cast<std::uint32_t>(value);
    Check(!pf::InternetSetOptionW(request, option, &ms, sizeof ms));
  };
  set(pf::INTERNET_OPTION_CONNECT_TIMEOUT, FConnectTimeout);
  set(pf::INTERNET_OPTION_SEND_TIMEOUT, FSendTimeout);
  set(pf::INTERNET_OPTION_RECEIVE_TIMEOUT, FReceiveTimeout);
}

HINTERNET THTTPReqResp::Send(TStream& source) {
  Connect(true);
  pf::UniqueInternetHandle request;
  try {
    std::uint32_t flags = pf::INTERNET_FLAG_KEEP_CONNECTION | pf::INTERNET_FLAG_NO_CACHE_WRITE;
    // The name and date exemptions are TLS flags, so they go with HTTPS only.
    if (Secure()) {
      flags |= pf::INTERNET_FLAG_SECURE;
      if (Ignoring())
        flags |=
            pf::INTERNET_FLAG_IGNORE_CERT_CN_INVALID | pf::INTERNET_FLAG_IGNORE_CERT_DATE_INVALID;
    }
    request.reset(
        pf::HttpOpenRequestW(FInetConnect, u"POST", FURLSite, u"", u"", nullptr, flags, 0));
    if (!request) RaiseCheck(FailureCode());
    SetTimeouts(request.get());
    if (Ignoring()) {
      // Plain HTTP requests get the flags as well; the platform accepts or ignores them.
      const std::uint32_t security =
          pf::SECURITY_FLAG_IGNORE_REVOCATION | pf::SECURITY_FLAG_IGNORE_UNKNOWN_CA;
      pf::InternetSetOptionW(request.get(), pf::INTERNET_OPTION_SECURITY_FLAGS, &security,
                             sizeof security);
    }
    AddHeaders(request.get());
    if (OnBeforePost) OnBeforePost(this, request.get());
    source.SetPosition(0);
    const std::int64_t size = source.Size();
    if (size <= FMaxSinglePostSize)
      SendOnePiece(request.get(), source, size);
    else
      SendChunked(request.get(), source, size);
  } catch (...) {
    request.reset();
    Connect(false);
    throw;
  }
  return request.release();
}

void THTTPReqResp::SendOnePiece(HINTERNET request, TStream& source, std::int64_t size) {
  std::string body(static_cast<std::size_t>(size), '\0');
  source.ReadBuffer(body.data(), size);
  for (int pass = 1;; ++pass) {
    if (OnPostingData) OnPostingData(size, size);
    if (pf::HttpSendRequestW(request, u"", body.data(), static_cast<std::uint32_t>(size))) return;
    const std::uint32_t error = pf::GetLastError();
    const std::uint32_t next = HandleWinInetError(error, request, true);
    if (next == pf::ERROR_SUCCESS) return;  // the send counts as done
    if (next == pf::ERROR_CANCELLED) throw EAbort();
    // Bounded: a cause that another attempt does not remove ends here.
    if (pass >= MaxSendPasses) RaiseCheck(OrInternal(error));
  }
}

void THTTPReqResp::SendChunked(HINTERNET request, TStream& source, std::int64_t size) {
  // A chunk size of 0 or less reads nothing, which fails as a body of length 0.
  std::vector<char> buffer(static_cast<std::size_t>(std::max(FMaxSinglePostSize, 0)));
  pf::INTERNET_BUFFERSW buffers;  // dwStructSize is the record's size (40 on 32-bit Windows)
  buffers.dwBufferTotal = static_cast<std::uint32_t>(size);
  for (int pass = 1;; ++pass) {
    source.SetPosition(0);
    Check(!pf::HttpSendRequestExW(request, &buffers, nullptr, 0, 0));
    try {
      for (std::int64_t position = 0; position < size;) {
        const std::int64_t wanted = std::min<std::int64_t>(size - position, FMaxSinglePostSize);
        const std::int64_t got = wanted > 0 ? source.Read(buffer.data(), wanted) : 0;
        if (got <= 0) throw ESOAPHTTPException(u"Invalid HTTP Request: Length is 0");
        std::uint32_t written = 0;
        if (!pf::InternetWriteFile(request, buffer.data(), static_cast<std::uint32_t>(got),
                                   written) &&
            HandleWinInetError(pf::GetLastError(), request, true) == pf::ERROR_CANCELLED)
          throw EAbort();
        position += got;
        if (OnPostingData) OnPostingData(position, size);
      }
    } catch (...) {
      // The request is ended all the same; the failure reported is the
      // first one, not what ending a broken request says.
      pf::HttpEndRequestW(request, nullptr, 0, 0);
      throw;
    }
    if (pf::HttpEndRequestW(request, nullptr, 0, 0)) return;
    const std::uint32_t error = pf::GetLastError();
    const std::uint32_t next = HandleWinInetError(error, request, true);
    if (next == pf::ERROR_CANCELLED) throw EAbort();
    if (next != pf::ERROR_INTERNET_FORCE_RETRY) return;
    if (pass >= MaxSendPasses) RaiseCheck(OrInternal(error));
  }
}

HINTERNET THTTPReqResp::SendGet() {
  Connect(true);
  pf::UniqueInternetHandle request;
  try {
    std::uint32_t flags = pf::INTERNET_FLAG_NO_CACHE_WRITE;
    if (Secure()) {
      flags |= pf::INTERNET_FLAG_SECURE;
      if (Ignoring())
        flags |=
            pf::INTERNET_FLAG_IGNORE_CERT_CN_INVALID | pf::INTERNET_FLAG_IGNORE_CERT_DATE_INVALID;
    }
    static constexpr const char16_t* kAcceptTypes[] = {u"*/*", nullptr};
    request.reset(pf::HttpOpenRequestW(FInetConnect, u"GET", FURLSite, u"", u"", kAcceptTypes,
                                       flags, reinterpret_cast<std::uintptr_t>(this)));
    if (!request) RaiseCheck(FailureCode());
    // The time-outs bound a fetch as they bound a post (the loader sets them).
    SetTimeouts(request.get());
    for (int pass = 1;; ++pass) {
      if (pf::HttpSendRequestW(request.get(), u"", nullptr, 0)) break;
      const std::uint32_t error = pf::GetLastError();
      const std::uint32_t next = HandleWinInetError(error, request.get(), false);
      if (next == pf::ERROR_SUCCESS) break;
      if (next == pf::ERROR_CANCELLED) throw EAbort();
      if (pass >= MaxSendPasses) RaiseCheck(OrInternal(error));
    }
  } catch (...) {
    request.reset();
    Connect(false);
    throw;
  }
  return request.release();
}

// ---- Receiving

void THTTPReqResp::Receive(HINTERNET request, TStream& resp, bool isGet) {
  std::uint32_t status = 0, length = sizeof status, index = 0;
  if (pf::HttpQueryInfoW(request, pf::HTTP_QUERY_STATUS_CODE | pf::HTTP_QUERY_FLAG_NUMBER, &status,
                         length, &index) &&
      status >= 300 && status != 500) {
    char16_t text[2048];
    length = sizeof text;
    if (pf::HttpQueryInfoW(request, pf::HTTP_QUERY_STATUS_TEXT, text, length, nullptr))
      throw ESOAPHTTPException(u"%s (%d) - '%s'",
                               {QueriedText(text, length, std::size(text)), status, FURL},
                               static_cast<int>(status));
  }

  char16_t type[512];
  length = sizeof type;
  if (pf::HttpQueryInfoW(request, pf::HTTP_QUERY_CONTENT_TYPE, type, length, nullptr))
    FContentType = QueriedText(type, length, std::size(type));
  else
    Check(true);
  FMimeBoundary = AnsiString::Encode(MultipartBoundary(FContentType), pf::CP_ACP);

  // Each wait of the platform is bounded by the receive time-out alone; the
  // deadline bounds the whole body, also where the platform does not.
  std::vector<char> buffer;
  for (;;) {
    if (ResponseDeadlinePassed()) RaiseResponseDeadline();
    std::uint32_t available = 0;
    Check(!pf::InternetQueryDataAvailable(request, available, 0, 0));
    if (available == 0) break;
    buffer.resize(available);
    std::uint32_t read = 0;
    Check(!pf::InternetReadFile(request, buffer.data(), available, read));
    if (read > 0) resp.WriteBuffer(buffer.data(), read);
    if (OnReceivingData) OnReceivingData(available, read);
    if (read == 0) break;  // the end of the body, whatever was announced
  }
  if (!isGet) CheckContentType();
}

void THTTPReqResp::CheckContentType() const {
  if (rtl::SameTextAscii(FContentType, u"text/plain") ||
      rtl::SameTextAscii(FContentType, u"text/html"))
    throw ESOAPHTTPException(
        u"Received content of invalid Content-Type setting: %s - SOAP expects \"text/xml\"",
        {FContentType});
}

// ---- The exchange

void THTTPReqResp::BeforeExecute(const soap::TIntfMetaData& intfMD,
                                 const soap::TIntfMethEntry& methMD, int methodIndex,
                                 IMimeAttachmentHandler* attachHandler) {
  soap::TInvokableClassRegistry& registry = soap::InvRegistry();
  if (FUserSetURL) {
    FSoapAction = registry.GetActionURIOfInfo(
        intfMD.Info, registry.GetMethExternalName(intfMD.Info, methMD.Name), methodIndex);
  } else if (FWSDLView) {
    const UnicodeString endpoint = FWSDLView->GetEndpoint();
    if (endpoint.empty())
      throw ESOAPHTTPException(
          u"Unable to retrieve the URL endpoint for Service/Port '%s'/'%s' from WSDL '%s'",
          {FWSDLView->Service, FWSDLView->Port, FWSDLView->WSDLFileName});
    // The view's address serves this call; it does not count as set by the
    // user, so the next call asks the view again.
    if (endpoint != FURL) {
      InitURL(endpoint);
      Connect(false);
    }
    FSoapAction = FWSDLView->GetSoapAction(registry.GetMethExternalName(intfMD.Info, methMD.Name));
  } else {
    throw ESOAPHTTPException(
        u"No WSDL or URL property was set in the THTTPRIO component. You must set the WSDL or "
        u"URL property before invoking the Web Service");
  }

  if (!attachHandler) {
    FBindingType = btSoap;
    return;
  }
  FBindingType = btMime;
  FMimeBoundary = attachHandler->GetMIMEBoundary();
  UnicodeString contentType = u"Content-Type: ";
  contentType += FUseUTF8InHeader ? u"text/xml; charset=utf-8" : u"text/xml";
  attachHandler->AddSoapHeader(contentType);
  attachHandler->AddSoapHeader(GetSOAPActionHeader());
}

void THTTPReqResp::ExecuteOnce(TStream& request, TStream& response) {
  StartResponseClock();
  try {
    pf::UniqueInternetHandle handle(Send(request));
    Receive(handle.get(), response, false);
  } catch (const ESOAPHTTPException& e) {
    // A platform that enforces the deadline itself reports a time-out.
    if (e.StatusCode() == static_cast<int>(pf::ERROR_INTERNET_TIMEOUT) && ResponseDeadlinePassed())
      RaiseResponseDeadline();
    throw;
  }
}

void THTTPReqResp::Execute(TStream& request, TStream& response) {
  bool uddiRetry = FInvokeOptions.Contains(soAutoCheckAccessPointViaUDDI) &&
                   !FUDDIBindingKey.empty() && !FUDDIOperator.empty();
  for (;;) {
    try {
      ExecuteOnce(request, response);
      return;
    } catch (const ESOAPHTTPException& e) {
      Connect(false);
      if (!uddiRetry || !IsErrorStatusCode(e.StatusCode())) throw;
      uddiRetry = false;  // the access point is looked up once
      const UnicodeString accessPoint = LookupUDDIAccessPoint();
      // The status code travels on with the message, so callers still see it.
      if (accessPoint.empty() || rtl::SameTextAscii(accessPoint, FURL))
        throw ESOAPHTTPException(e.Message(), e.StatusCode());
      SetURL(accessPoint);
    } catch (...) {
      Connect(false);
      throw;
    }
  }
}

void THTTPReqResp::Execute(const UnicodeString& dataMsg, TStream& resp) {
  TMemoryStream request(pf::WideCharToMultiByte(pf::CP_UTF8, 0, dataMsg));
  Execute(request, resp);
}

std::unique_ptr<TStream> THTTPReqResp::Execute(TStream& request) {
  auto response = std::make_unique<TMemoryStream>();
  try {
    Execute(request, *response);
  } catch (...) {
    SetCertContext(nullptr);
    SetCertStore(nullptr);
    throw;
  }
  SetCertContext(nullptr);
  SetCertStore(nullptr);
  return response;
}

void THTTPReqResp::Get(TStream& resp) {
  if (FURL.empty()) throw ESOAPHTTPException(u"No URL was specified for 'GET'");
  StartResponseClock();
  pf::UniqueInternetHandle request;
  try {
    request.reset(SendGet());
    Receive(request.get(), resp, true);
  } catch (const ESOAPHTTPException& e) {
    request.reset();
    Connect(false);
    if (e.StatusCode() == static_cast<int>(pf::ERROR_INTERNET_TIMEOUT) && ResponseDeadlinePassed())
      RaiseResponseDeadline();
    throw;
  } catch (...) {
    request.reset();
    Connect(false);
    throw;
  }
  request.reset();
  Connect(false);
}

}  // namespace delvan::transport
