// TOPToSoapDomConvert: the converter of a remote-interface object. It
// writes the request message of a call and reads the response message
// into the call's results (IOPConvert).
#pragma once

#include "soap/OPConvert.h"
#include "soap/SOAPDomConv.h"

namespace delvan::soap {

// The options the constructor adds: soSendMultiRefObj, soTryAllSchema,
// soRootRefNodesToBody, soCacheMimeResponse and soUTF8EncodeXML.
inline constexpr std::uint32_t DefaultConvertOptionsMask = 0x221A;

class TOPToSoapDomConvert : public TSOAPDomConv, public IOPConvert {
  DELVAN_CLASS()

 public:
  explicit TOPToSoapDomConvert(TComponent* owner = nullptr);
  ~TOPToSoapDomConvert() override;

  HRESULT QueryInterface(const TGUID& iid, void** obj) override;
  std::int32_t _AddRef() override { return TSOAPDomConv::_AddRef(); }
  std::int32_t _Release() override { return TSOAPDomConv::_Release(); }

  // ---- IOPConvert
  TSOAPConvertOptions GetOptions() override { return FOptions; }
  void SetOptions(TSOAPConvertOptions value) override { FOptions = value; }
  TSOAPAttachments& GetAttachments() override { return FAttachments; }
  void SetAttachments(const TSOAPAttachments& value) override { FAttachments = value; }
  UnicodeString GetTempDir() override { return FTempDir; }
  void SetTempDir(const UnicodeString& value) override { FTempDir = value; }
  UnicodeString GetEncoding() override { return FEncoding; }
  void SetEncoding(const UnicodeString& value) override { FEncoding = value; }

  std::unique_ptr<TStream> InvContextToMsg(const TIntfMetaData& IntfMD, int MethNum,
                                           TInvContext* Context, THeaderList* Headers) override;
  void ProcessResponse(TStream& Resp, const TIntfMetaData& IntfMD, const TIntfMethEntry& MethMD,
                       TInvContext* Context, THeaderList* Headers) override;
  void ProcessResponse(const UnicodeString& Resp, const TIntfMetaData& IntfMD,
                       const TIntfMethEntry& MethMD, TInvContext* Context) override;

  // ======== Request envelope writer
  // Declarations of the request writer's operations go in this section.

  // Writes one header object under ParentNode (the Header element), with
  // soXXXXHdr in the options for the duration of the call.
  void WriteHeader(TSOAPHeader* Header, xml::IXMLNode* RootNode, xml::IXMLNode* ParentNode);

  // ======== Response envelope reader
  // Declarations of the response reader's operations go in this section.

  // ProcessResponse on a loaded document (the stream form loads one).
  void ProcessResponse(xml::IXMLDocument* Doc, const TIntfMetaData& IntfMD,
                       const TIntfMethEntry& MethMD, TInvContext* Context, THeaderList* Headers);
  // One child of the response's Header. A header object read from it goes
  // into Headers, which owns it (it is freed when Headers is null).
  void ReadHeader(xml::IXMLNode* EnvNode, xml::IXMLNode* HeaderNode, THeaderList* Headers);
  // Raises ERemotableException "Soap header %s with attribute
  // 'mustUnderstand' set to true was not handled" for a header whose
  // unprefixed mustUnderstand attribute is "1" or "true"; drops any other.
  void DefaultProcessHeader(xml::IXMLNode* HeaderNode, bool& Handled, bool& AbortRequest);
  // Raises the fault as ERemotableException or a registered subclass.
  [[noreturn]] void ProcessFault(xml::IXMLNode* FaultNode);
  // Stores the children of the response element in the matching arguments.
  void ProcessSuccess(xml::IXMLNode* RespNode, const TIntfMetaData& IntfMD,
                      const TIntfMethEntry& MethMD, TInvContext* Context);

 private:
  UnicodeString FTempDir;
};

}  // namespace delvan::soap
