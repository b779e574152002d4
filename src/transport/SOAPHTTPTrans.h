// The HTTP web node THTTPReqResp: posts a request body to the endpoint over
// HTTP or HTTPS through the platform's HTTP client and hands back the
// response body; its settings, the endpoint URL and its parts, the client
// certificate choice, and the interfaces it implements.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/CertStore.h"
#include "platform/HttpClient.h"
#include "rtl/Component.h"
#include "transport/WebNode.h"

namespace delvan::transport {

using platform::HCERTSTORE;
using platform::HINTERNET;
using platform::PCCERT_CONTEXT;

enum SOAPInvokeOptions : std::uint8_t {
  soNoValueForEmptySOAPAction,    // an empty action stays empty instead of ""
  soIgnoreInvalidCerts,           // accept any server certificate
  soNoSOAPActionHeader,           // no SOAPAction line (multipart requests aside)
  soAutoCheckAccessPointViaUDDI,  // allow the UDDI retry on 404, 405 and 410
  soPickFirstClientCertificate,   // let the platform pick a client certificate
};
using TSOAPInvokeOptions = TSet<SOAPInvokeOptions>;

extern const rtl::TTypeInfo TypeInfo_SOAPInvokeOptions;
extern const rtl::TTypeInfo TypeInfo_TSOAPInvokeOptions;
extern const rtl::TTypeInfo TypeInfo_WebNodeOption;
extern const rtl::TTypeInfo TypeInfo_TWebNodeOptions;

inline constexpr std::u16string_view DefaultAgent = u"Corvane SOAP 1.3";
inline constexpr std::int32_t DefaultMaxSinglePostSize = 32768;
// Certificates are verified unless a caller asks otherwise: with
// soIgnoreInvalidCerts on by default, a call carrying credentials would
// accept any server.
inline constexpr TSOAPInvokeOptions DefaultInvokeOptions{soAutoCheckAccessPointViaUDDI};
// Sends of one request, the first included, before a platform error that
// keeps asking for another attempt is raised.
inline constexpr int MaxSendPasses = 5;

class THTTPReqResp;

// Gives the web node object behind an interface reference.
class IHTTPReqResp : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{7A9A1450-FBF4-4DB4-837A-18FA9D2843AA}");
  virtual THTTPReqResp* GetHTTPReqResp() = 0;

 protected:
  ~IHTTPReqResp() = default;
};

// The client certificate of a web node: the selection by serial number,
// name and issuer, and the platform store and certificate in use.
class IClientCertInfo : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{92CC3796-6A16-4621-807B-8B99F33CE3E2}");
  virtual UnicodeString GetCertSerialNumber() = 0;
  virtual void SetCertSerialNumber(const UnicodeString& value) = 0;
  virtual UnicodeString GetCertName() = 0;
  virtual void SetCertName(const UnicodeString& value) = 0;
  virtual UnicodeString GetCertIssuer() = 0;
  virtual void SetCertIssuer(const UnicodeString& value) = 0;
  // The store belongs to the web node; setting one takes it over and closes
  // the previous one (forced close).
  virtual HCERTSTORE GetCertStore() = 0;
  virtual void SetCertStore(HCERTSTORE value) = 0;
  // The certificate belongs to the web node; setting one takes it over and
  // frees the previous one.
  virtual PCCERT_CONTEXT GetCertContext() = 0;
  virtual void SetCertContext(PCCERT_CONTEXT value) = 0;

 protected:
  ~IClientCertInfo() = default;
};

// The client certificate selection of a web node. SerialNum (hexadecimal,
// any case) picks the certificate when a server asks for one; CertName and
// Issuer are kept for the caller.
class TClientCert : public TComponent {
  DELVAN_CLASS()

 public:
  explicit TClientCert(TComponent* owner = nullptr) : TComponent(owner) {}

  const UnicodeString& CertName() const { return FCertName; }
  void SetCertName(const UnicodeString& value) { FCertName = value; }
  const UnicodeString& Issuer() const { return FIssuer; }
  void SetIssuer(const UnicodeString& value) { FIssuer = value; }
  const UnicodeString& SerialNum() const { return FSerialNum; }
  void SetSerialNum(const UnicodeString& value) { FSerialNum = value; }

 private:
  static const rtl::TPropInfo kProps[];

  UnicodeString FCertName;
  UnicodeString FIssuer;
  UnicodeString FSerialNum;
};

// What a web node asks of a service-description view when it has no URL of
// its own: the endpoint and SOAP actions of the view's service and port.
// The web node copies its user name, password and proxy into the view.
class TWSDLView : public TComponent {
  DELVAN_CLASS()

 public:
  explicit TWSDLView(TComponent* owner = nullptr) : TComponent(owner) {}

  UnicodeString Service;
  UnicodeString Port;
  UnicodeString WSDLFileName;  // the description's location, for messages
  UnicodeString UserName;
  UnicodeString Password;
  UnicodeString Proxy;

  // The address of Service/Port; empty when the description has none.
  virtual UnicodeString GetEndpoint() = 0;
  // The SOAP action of an operation (its external name) of Service/Port.
  virtual UnicodeString GetSoapAction(const UnicodeString& operation) = 0;
};

using TBeforePostEvent = std::function<void(THTTPReqResp* sender, HINTERNET request)>;
using TPostingDataEvent = std::function<void(std::int64_t sent, std::int64_t total)>;
using TReceivingDataEvent = std::function<void(std::int64_t read, std::int64_t total)>;
// Replaces the whole error handling of HandleWinInetError: 0 stops, 1223
// cancels, anything else asks for another attempt.
using TWinInetErrorEvent = std::function<std::uint32_t(std::uint32_t lastError, HINTERNET request)>;

// The web node. Made with an owner it lives until the owner destroys it,
// whatever its interface count; made without owner it destroys itself when
// its last interface reference goes (one that is never counted is the
// maker's to delete). One object serves one call at a time.
class THTTPReqResp : public TComponent,
                     public IWebNode,
                     public IHTTPReqResp,
                     public IClientCertInfo {
  DELVAN_CLASS()

 public:
  explicit THTTPReqResp(TComponent* owner = nullptr);
  ~THTTPReqResp() override;

  HRESULT QueryInterface(const TGUID& iid, void** obj) override;
  std::int32_t _AddRef() override;
  std::int32_t _Release() override;

  // ---- IWebNode
  void Execute(const UnicodeString& dataMsg, TStream& resp) override;
  void BeforeExecute(const soap::TIntfMetaData& intfMD, const soap::TIntfMethEntry& methMD,
                     int methodIndex, IMimeAttachmentHandler* attachHandler) override;
  void Execute(TStream& request, TStream& response) override;
  std::unique_ptr<TStream> Execute(TStream& request) override;
  AnsiString GetMimeBoundary() override { return FMimeBoundary; }
  void SetMimeBoundary(const AnsiString& value) override { FMimeBoundary = value; }
  TWebNodeOptions GetWebNodeOptions() override { return FWebNodeOptions; }
  void SetWebNodeOptions(TWebNodeOptions value) override { FWebNodeOptions = value; }

  // ---- IHTTPReqResp
  THTTPReqResp* GetHTTPReqResp() override { return this; }

  // ---- IClientCertInfo
  UnicodeString GetCertSerialNumber() override { return FClientCertificate->SerialNum(); }
  void SetCertSerialNumber(const UnicodeString& v) override { FClientCertificate->SetSerialNum(v); }
  UnicodeString GetCertName() override { return FClientCertificate->CertName(); }
  void SetCertName(const UnicodeString& v) override { FClientCertificate->SetCertName(v); }
  UnicodeString GetCertIssuer() override { return FClientCertificate->Issuer(); }
  void SetCertIssuer(const UnicodeString& v) override { FClientCertificate->SetIssuer(v); }
  HCERTSTORE GetCertStore() override { return FCertStore; }
  void SetCertStore(HCERTSTORE value) override;
  PCCERT_CONTEXT GetCertContext() override { return FCertContext; }
  void SetCertContext(PCCERT_CONTEXT value) override;

  // ---- The exchange

  // Opens a POST request and sends source (from its start) with the
  // headers. Returns the open request handle, which the caller closes. On
  // failure the request and the connection are closed.
  virtual HINTERNET Send(TStream& source);
  // Opens and sends a GET request of the URL; the same contract as Send.
  virtual HINTERNET SendGet();
  // Checks the status and the Content-Type of the response to request and
  // appends its body to resp; the Content-Type is checked only unless isGet.
  virtual void Receive(HINTERNET request, TStream& resp, bool isGet);
  // Fetches the URL with GET into resp; closes the connection afterwards.
  virtual void Get(TStream& resp);

  // Opens the root and connection handles (when not open), or closes them.
  void Connect(bool open);
  // Decides what follows a failed platform call on request: 0 stop, 12032
  // try again, 1223 cancel. With raiseError the error is raised instead of
  // being shown to the user.
  std::uint32_t HandleWinInetError(std::uint32_t lastError, HINTERNET request, bool raiseError);
  // Raises ESOAPHTTPException "%s - URL:%s - SOAPAction:%s" with the
  // platform's text of code, and code as StatusCode.
  [[noreturn]] void RaiseCheck(std::uint32_t code) const;
  // RaiseCheck with the platform's last error when failed and that is not 0.
  void Check(bool failed) const;
  // Refuses a response whose Content-Type is text/plain or text/html.
  void CheckContentType() const;
  // The media type of the request.
  UnicodeString GetContentType() const;
  // The SOAPAction header line, without line break.
  UnicodeString GetSOAPActionHeader() const;
  // True for 404, 405 and 410, the statuses after which the UDDI retry runs.
  static bool IsErrorStatusCode(int code) { return code == 404 || code == 405 || code == 410; }

  // ---- Settings

  const UnicodeString& URL() const { return FURL; }
  // Parses value and closes the connection. Raises ESOAPHTTPException for a
  // URL that is not http or https; the previous URL then stays.
  void SetURL(const UnicodeString& value);
  // FSoapAction, or "" (two double quotes) when that is empty and
  // soNoValueForEmptySOAPAction is not set.
  UnicodeString SoapAction() const;
  void SetSoapAction(const UnicodeString& value) { FSoapAction = value; }
  const UnicodeString& Agent() const { return FAgent; }
  void SetAgent(const UnicodeString& value) { FAgent = value; }
  // The agent counts as changed, and is stored, only when it is not the default.
  bool IsAgentStored() const { return FAgent != DefaultAgent; }
  const UnicodeString& UserName() const { return FUserName; }
  void SetUserName(const UnicodeString& value);
  const UnicodeString& Password() const { return FPassword; }
  void SetPassword(const UnicodeString& value);
  const UnicodeString& Proxy() const { return FProxy; }
  void SetProxy(const UnicodeString& value);
  const UnicodeString& ProxyByPass() const { return FProxyByPass; }
  void SetProxyByPass(const UnicodeString& value) { FProxyByPass = value; }
  // Milliseconds; 0 or less keeps the platform's default.
  std::int32_t ConnectTimeout() const { return FConnectTimeout; }
  void SetConnectTimeout(std::int32_t value) { FConnectTimeout = value; }
  std::int32_t SendTimeout() const { return FSendTimeout; }
  void SetSendTimeout(std::int32_t value) { FSendTimeout = value; }
  std::int32_t ReceiveTimeout() const { return FReceiveTimeout; }
  void SetReceiveTimeout(std::int32_t value) { FReceiveTimeout = value; }
  std::int32_t MaxSinglePostSize() const { return FMaxSinglePostSize; }
  void SetMaxSinglePostSize(std::int32_t value) { FMaxSinglePostSize = value; }
  bool UseUTF8InHeader() const { return FUseUTF8InHeader; }
  void SetUseUTF8InHeader(bool value) { FUseUTF8InHeader = value; }
  TSOAPInvokeOptions InvokeOptions() const { return FInvokeOptions; }
  void SetInvokeOptions(TSOAPInvokeOptions value) { FInvokeOptions = value; }
  const UnicodeString& UDDIBindingKey() const { return FUDDIBindingKey; }
  void SetUDDIBindingKey(const UnicodeString& value) { FUDDIBindingKey = value; }
  const UnicodeString& UDDIOperator() const { return FUDDIOperator; }
  void SetUDDIOperator(const UnicodeString& value) { FUDDIOperator = value; }
  // Owned by this object.
  TClientCert* ClientCertificate() const { return FClientCertificate; }
  // The view is not owned; the web node forgets it when it is destroyed.
  TWSDLView* WSDLView() const { return FWSDLView; }
  void SetWSDLView(TWSDLView* value);

  // ---- State of the last exchange

  const UnicodeString& ContentType() const { return FContentType; }  // of the last response
  TWebServiceBindingType BindingType() const { return FBindingType; }
  bool Connected() const { return FConnected; }
  bool UserSetURL() const { return FUserSetURL; }
  const UnicodeString& URLHost() const { return FURLHost; }
  const UnicodeString& URLSite() const { return FURLSite; }
  platform::INTERNET_PORT URLPort() const { return FURLPort; }
  platform::INTERNET_SCHEME URLScheme() const { return FURLScheme; }

  // ---- Events, called on the calling thread

  TBeforePostEvent OnBeforePost;  // after the headers are added, before the body
  TPostingDataEvent OnPostingData;
  TReceivingDataEvent OnReceivingData;
  TWinInetErrorEvent OnWinInetError;

 protected:
  void Notification(TComponent* component, rtl::TOperation operation) override;
  // The access point that the UDDI registry holds for FUDDIBindingKey at
  // FUDDIOperator; empty when none is found. This library has no UDDI
  // client, so none is found.
  virtual UnicodeString LookupUDDIAccessPoint() { return {}; }

 private:
  static const rtl::TPropInfo kProps[];

  void InitURL(const UnicodeString& value);
  bool Secure() const { return FURLScheme == platform::INTERNET_SCHEME_HTTPS; }
  bool Ignoring() const { return FInvokeOptions.Contains(soIgnoreInvalidCerts); }
  void SetTimeouts(HINTERNET request) const;
  void AddHeaders(HINTERNET request) const;
  void SendOnePiece(HINTERNET request, TStream& source, std::int64_t size);
  void SendChunked(HINTERNET request, TStream& source, std::int64_t size);
  void ExecuteOnce(TStream& request, TStream& response);
  // The deadline of the exchange that starts now (platform::ResponseDeadlineMs
  // of the time-outs in force); Receive fails once it has passed.
  void StartResponseClock();
  bool ResponseDeadlinePassed() const;
  // Raises ESOAPHTTPException "%s - URL:%s - SOAPAction:%s" with the
  // deadline's text, and the platform's time-out code as StatusCode.
  [[noreturn]] void RaiseResponseDeadline() const;
  bool ChooseClientCertificate(HINTERNET request);

  bool FUserSetURL = false;
  std::atomic<std::int32_t> FRefCount{0};
  bool FOwnerIsComponent = false;
  bool FConnected = false;
  UnicodeString FURL;
  UnicodeString FAgent{DefaultAgent};
  TWebServiceBindingType FBindingType = btUnknown;
  AnsiString FMimeBoundary;
  TWebNodeOptions FWebNodeOptions;
  UnicodeString FContentType;
  UnicodeString FUserName;
  UnicodeString FPassword;
  UnicodeString FURLHost;
  UnicodeString FURLSite;
  platform::INTERNET_PORT FURLPort = 0;
  platform::INTERNET_SCHEME FURLScheme = 0;
  UnicodeString FProxy;
  UnicodeString FProxyByPass;
  HINTERNET FInetRoot = nullptr;
  HINTERNET FInetConnect = nullptr;
  std::int32_t FConnectTimeout = 0;
  std::int32_t FSendTimeout = 0;
  std::int32_t FReceiveTimeout = 0;
  std::chrono::steady_clock::time_point FResponseDeadline{};  // none before the first exchange
  std::uint64_t FResponseDeadlineMs = 0;
  TWSDLView* FWSDLView = nullptr;
  UnicodeString FSoapAction;
  bool FUseUTF8InHeader = true;
  TSOAPInvokeOptions FInvokeOptions = DefaultInvokeOptions;
  UnicodeString FUDDIBindingKey;
  UnicodeString FUDDIOperator;
  std::int32_t FMaxSinglePostSize = DefaultMaxSinglePostSize;
  HCERTSTORE FCertStore = nullptr;
  PCCERT_CONTEXT FCertContext = nullptr;
  TClientCert* FClientCertificate;  // owned, made with the object
};

// Loads a document from a location: an http or https URL is fetched with
// GET by a web node of its own, anything else is read as a file.
class TStreamLoader {
 public:
  UnicodeString UserName;
  UnicodeString Password;
  UnicodeString Proxy;
  std::int32_t Timeout = 0;  // milliseconds for connect, send and receive; 0: the defaults

  // Appends the document at location (trimmed) to stream.
  void Load(const UnicodeString& location, TStream& stream) const;
};

}  // namespace delvan::transport
