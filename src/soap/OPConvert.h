// The converter as the call driver sees it: IOPConvert turns a call into a
// request message and a response message back into the call's results.
#pragma once

#include <memory>
#include <vector>

#include "rtl/Interface.h"
#include "rtl/Stream.h"
#include "soap/IntfInfo.h"
#include "soap/InvContext.h"
#include "soap/ObjConverter.h"
#include "soap/SOAPHeader.h"

namespace delvan::xml {
class IXMLDocument;
}

namespace delvan::soap {

class TSOAPAttachment;

// The attachments of one request. The list does not own them.
using TSOAPAttachments = std::vector<TSOAPAttachment*>;

// The server-side operations of the interface (MsgToInvContext,
// MakeResponse, MakeFault) are left out: this library is a client only.
class IOPConvert : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{1F955FE3-890B-474C-A3A4-5E072D30CC4F}");

  virtual TSOAPConvertOptions GetOptions() = 0;
  virtual void SetOptions(TSOAPConvertOptions value) = 0;
  virtual TSOAPAttachments& GetAttachments() = 0;
  virtual void SetAttachments(const TSOAPAttachments& value) = 0;
  virtual UnicodeString GetTempDir() = 0;
  virtual void SetTempDir(const UnicodeString& value) = 0;
  virtual UnicodeString GetEncoding() = 0;
  virtual void SetEncoding(const UnicodeString& value) = 0;

  // Writes the call of method MethNum of IntfMD, whose arguments Context
  // points at, with the header objects of Headers (may be null or empty),
  // and returns the request message in a new stream that the caller owns;
  // its position is at its end.
  virtual std::unique_ptr<TStream> InvContextToMsg(const TIntfMetaData& IntfMD, int MethNum,
                                                   TInvContext* Context, THeaderList* Headers) = 0;
  // Reads the response message in Resp into the arguments and result that
  // Context points at; response headers go into Headers (may be null), which
  // owns them. A fault is raised as an exception.
  virtual void ProcessResponse(TStream& Resp, const TIntfMetaData& IntfMD,
                               const TIntfMethEntry& MethMD, TInvContext* Context,
                               THeaderList* Headers) = 0;
  // The same from the text of a response message, without response headers.
  virtual void ProcessResponse(const UnicodeString& Resp, const TIntfMetaData& IntfMD,
                               const TIntfMethEntry& MethMD, TInvContext* Context) = 0;

 protected:
  ~IOPConvert() = default;
};

}  // namespace delvan::soap
