// The web node as the call driver sees it: IWebNode, the binding types and
// web-node options, the transport's exception ESOAPHTTPException, and the
// part of an attachment handler that a web node uses for a multipart call.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>

#include "rtl/AnsiString.h"
#include "rtl/Exception.h"
#include "rtl/Interface.h"
#include "rtl/Set.h"
#include "rtl/Stream.h"
#include "soap/IntfInfo.h"

namespace delvan::transport {

enum TWebServiceBindingType : std::uint8_t { btUnknown, btSoap, btHttp, btMime, btDIME };

enum WebNodeOption : std::uint8_t {
  wnoSOAP12,  // SOAP 1.2 media type with the action inside it, no SOAPAction header
};
using TWebNodeOptions = TSet<WebNodeOption>;

// The transport's failure. StatusCode is the HTTP status for a status
// error, the platform error code for a platform failure, 0 otherwise.
class ESOAPHTTPException : public Exception {
 public:
  explicit ESOAPHTTPException(UnicodeString message, int statusCode = 0)
      : Exception(std::move(message)), FStatusCode(statusCode) {}
  ESOAPHTTPException(UnicodeStringView format, std::initializer_list<FormatArg> args,
                     int statusCode = 0)
      : Exception(format, args), FStatusCode(statusCode) {}

  int StatusCode() const { return FStatusCode; }
  void SetStatusCode(int value) { FStatusCode = value; }

 private:
  int FStatusCode;
};

// What a web node asks of the attachment handler of a call with
// attachments: the boundary of the multipart message, and the header lines
// of its SOAP part.
class IMimeAttachmentHandler : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{21465A67-F56A-4D03-B214-DAD917BD108A}");
  virtual AnsiString GetMIMEBoundary() = 0;
  // Adds one header line ("Name: value", no line break) to the SOAP part.
  virtual void AddSoapHeader(const UnicodeString& line) = 0;

 protected:
  ~IMimeAttachmentHandler() = default;
};

// The transport of a remote-interface object. The driver calls
// BeforeExecute, then Execute(Request, Response), then GetMimeBoundary to
// learn whether the response is multipart.
class IWebNode : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{77DB2644-0C12-4C0A-920E-89579DB9CC16}");

  // Sends dataMsg encoded as UTF-8; the response body is appended to resp.
  virtual void Execute(const UnicodeString& dataMsg, TStream& resp) = 0;
  // Fixes the SOAP action and the binding of the next call. methodIndex is
  // the method's position among the interface's own methods, from 0.
  // attachHandler may be null (a plain SOAP call); it is used during the
  // call only.
  virtual void BeforeExecute(const soap::TIntfMetaData& intfMD, const soap::TIntfMethEntry& methMD,
                             int methodIndex, IMimeAttachmentHandler* attachHandler) = 0;
  // Posts request (from its start); the response body is appended to
  // response.
  virtual void Execute(TStream& request, TStream& response) = 0;
  // Posts request and returns the response body in a new stream, which the
  // caller owns.
  virtual std::unique_ptr<TStream> Execute(TStream& request) = 0;
  virtual AnsiString GetMimeBoundary() = 0;
  virtual void SetMimeBoundary(const AnsiString& value) = 0;
  virtual TWebNodeOptions GetWebNodeOptions() = 0;
  virtual void SetWebNodeOptions(TWebNodeOptions value) = 0;

 protected:
  ~IWebNode() = default;
};

}  // namespace delvan::transport
