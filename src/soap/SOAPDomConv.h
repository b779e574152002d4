// The converter's base: TSOAPDOMProcessor (a component with the list of
// header processors) and TSOAPDomConv, which writes native values as XML
// elements and reads them back, and is the IObjConverter that travelling
// objects write and read themselves through.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "rtl/Component.h"
#include "rtl/Exception.h"
#include "rtl/TypInfo.h"
#include "rtl/Variant.h"
#include "soap/OPConvert.h"

namespace delvan::xml {
class IXMLNode;
}

namespace delvan::soap {

class TSoapEnvelope;

// Every structural error of the converter.
class ESOAPDomConvertError : public Exception {
 public:
  using Exception::Exception;
};

// A handler of response headers of one namespace, name and type name.
class IDOMHeaderProcessor : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{27F23F8F-23A2-4257-95A8-0204EEFF937B}");
  virtual void ProcessHeader(xml::IXMLNode* HeaderNode, bool& Handled, bool& AbortRequest) = 0;

 protected:
  ~IDOMHeaderProcessor() = default;
};

struct THeaderProcessorEntry {
  UnicodeString Namespace;
  UnicodeString HeaderName;
  UnicodeString TypeName;
  IntfPtr<IDOMHeaderProcessor> Processor;
};

// Made with an owner it lives until the owner destroys it, whatever its
// interface count; made without owner it destroys itself when its last
// interface reference goes.
class TSOAPDOMProcessor : public TComponent {
  DELVAN_CLASS()

 public:
  explicit TSOAPDOMProcessor(TComponent* owner = nullptr) : TComponent(owner) {}

  void AddHeaderProcessor(const UnicodeString& ns, const UnicodeString& headerName,
                          const UnicodeString& typeName, IDOMHeaderProcessor* processor);
  // The first entry whose namespace, header name and type name all equal
  // the arguments; null when there is none.
  IDOMHeaderProcessor* FindHeaderProcessor(const UnicodeString& ns, const UnicodeString& headerName,
                                           const UnicodeString& typeName) const;

 private:
  std::vector<THeaderProcessorEntry> FHeaderProcessors;
};

using TMemberDataNotReceivedEvent =
    std::function<void(const UnicodeString& ClassName, const UnicodeString& MemberName)>;
using TUnhandledNodeEvent =
    std::function<void(const UnicodeString& Name, const UnicodeString& XMLText)>;

// Kind names of the type kinds 0 .. 17, used in messages.
UnicodeString TypeKindName(rtl::TTypeKind kind);

class TSOAPDomConv : public TSOAPDOMProcessor, public IObjConverter {
  DELVAN_CLASS()

 public:
  explicit TSOAPDomConv(TComponent* owner = nullptr);
  ~TSOAPDomConv() override;

  HRESULT QueryInterface(const TGUID& iid, void** obj) override;
  std::int32_t _AddRef() override;
  std::int32_t _Release() override;

  // ---- IObjConverter
  IntfPtr<xml::IXMLNode> ObjInstanceToSOAP(TObject* Instance, xml::IXMLNode* RootNode,
                                           xml::IXMLNode* ParentNode, const UnicodeString& NodeName,
                                           const UnicodeString& NodeNamespace,
                                           const UnicodeString& ChildNamespace,
                                           TObjectConvertOptions ObjConvOpts,
                                           UnicodeString& RefID) override;
  void InitObjectFromSOAP(TObject* Instance, xml::IXMLNode* RootNode, xml::IXMLNode* Node) override;
  void AddAttachment(TSOAPAttachment* Attachment, const UnicodeString& AContentId) override;
  TSOAPAttachment* FindAttachment(const UnicodeString& AContentId) override;
  void ResetMultiRef() override;
  TSOAPConvertOptions GetOptions() override { return FOptions; }

  TSOAPConvertOptions Options() const { return FOptions; }
  void SetOptions(TSOAPConvertOptions value) { FOptions = value; }
  const UnicodeString& Encoding() const { return FEncoding; }
  void SetEncoding(const UnicodeString& value) { FEncoding = value; }
  TSoapEnvelope& Envelope() { return *FEnvelope; }

  TMemberDataNotReceivedEvent OnMemberDataNotReceived;
  TUnhandledNodeEvent OnUnhandledNode;

  // ======== Writing values (literal value writer)
  // Declarations of the writer's operations and state go in this section.

  // The value P points at (storage laid out as NativeData.h says), written
  // under ParentNode as Name in URI; RootNode takes generated namespace
  // declarations. TypeName is the parameter's registered namespace text
  // (read by the array writer), Flags its registered option flags.
  void ConvertNativeDataToSoap2(xml::IXMLNode* RootNode, xml::IXMLNode* ParentNode,
                                const UnicodeString& Name, const UnicodeString& URI,
                                const UnicodeString& TypeName, const rtl::TTypeInfo* Info, void* P,
                                std::int32_t Flags);
  // The same dispatch for header objects; Index is not read.
  void ConvertNativeDataToSoap(xml::IXMLNode* RootNode, xml::IXMLNode* ParentNode,
                               const UnicodeString& Name, const UnicodeString& URI,
                               const rtl::TTypeInfo* Info, void* P, int Index);
  // One object reference; ObjP points at the TObject* (null writes a nil
  // element). TypeName is not read.
  void ConvertObjectToSOAP(const UnicodeString& Name, const UnicodeString& URI,
                           const UnicodeString& TypeName, void* ObjP, xml::IXMLNode* RootNode,
                           xml::IXMLNode* ParentNode);
  // Has Instance write itself (its ObjectToSOAP, or ObjInstanceToSOAP for a
  // class that is not remotable); the reference id handed out.
  UnicodeString CreateObjectNode(TObject* Instance, xml::IXMLNode* RootNode,
                                 xml::IXMLNode* ParentNode, const UnicodeString& Name,
                                 const UnicodeString& URI, const UnicodeString& ChildNamespace,
                                 TObjectConvertOptions ObjConvOpts);
  // One dynamic array (P points at its std::vector): a wrapper element with
  // one child per item, or the items directly under ParentNode when Inline.
  void ConvertNativeArrayToSoap(xml::IXMLNode* RootNode, xml::IXMLNode* ParentNode,
                                const UnicodeString& Name, const UnicodeString& URI,
                                const UnicodeString& TypeName, const rtl::TTypeInfo* Info, void* P,
                                bool Inline);
  // The text of a scalar property of Instance (a TRemotableXS object gives
  // its NativeToXS, a byte array its base64 form).
  UnicodeString GetObjectPropAsText(TObject* Instance, const rtl::TPropInfo* PropInfo);

  // Node makers. TypeURI and TypeName name the value's XML type for the
  // xsi:type attribute that the encoded style writes.
  IntfPtr<xml::IXMLNode> CreateScalarNodeXS(xml::IXMLNode* RootNode, xml::IXMLNode* ParentNode,
                                            const UnicodeString& Name, const UnicodeString& URI,
                                            const UnicodeString& TypeURI,
                                            const UnicodeString& TypeName,
                                            const UnicodeString& Value, bool GenPrefix = false);
  // CreateScalarNodeXS for a caller that does not keep the node: without
  // an xsi:type to write, no wrapper is made for it.
  void AddScalarNode(xml::IXMLNode* RootNode, xml::IXMLNode* ParentNode, const UnicodeString& Name,
                     const UnicodeString& URI, const UnicodeString& TypeURI,
                     const UnicodeString& TypeName, const UnicodeString& Value);
  IntfPtr<xml::IXMLNode> CreateTypedNode(xml::IXMLNode* ParentNode, const UnicodeString& Name,
                                         const UnicodeString& URI, bool GenPrefix = false);
  // xsi:type in the encoded style only (unless soSendUntyped).
  void SetNodeType(xml::IXMLNode* RootNode, xml::IXMLNode* InstNode, const UnicodeString& TypeURI,
                   const UnicodeString& TypeName);
  // xsi:type when Forced in the literal style; as SetNodeType otherwise.
  void SetNodeTypeEx(xml::IXMLNode* RootNode, xml::IXMLNode* InstNode, const UnicodeString& TypeURI,
                     const UnicodeString& TypeName, bool Forced);
  // Name in URI with xsi:nil="true".
  IntfPtr<xml::IXMLNode> CreateNilNode(xml::IXMLNode* ParentNode, const UnicodeString& Name,
                                       const UnicodeString& URI);
  // CreateNilNode for a caller that does not keep the node: no wrapper is
  // made for it.
  void AddNilNode(xml::IXMLNode* ParentNode, const UnicodeString& Name, const UnicodeString& URI);
  // Name without namespace with xsi:nil="true"; with UseParent the
  // attribute goes on ParentNode itself and no element is added.
  IntfPtr<xml::IXMLNode> CreateNULLNode(xml::IXMLNode* RootNode, xml::IXMLNode* ParentNode,
                                        const UnicodeString& Name, bool UseParent = false);
  // Writes the objects that were referred to by href under RootNode, each
  // with its id (encoded style); objects they refer to follow in turn.
  void FinalizeMultiRefNodes(xml::IXMLNode* RootNode);
  // rpc/literal or document style: soLiteralParams or soDocument set.
  bool IsLiteralStyle() const;

  // ======== Reading values (literal value reader)
  // Declarations of the reader's operations and state go in this section.

  // Reads Node into the storage at DataP of type TypeInfo (NativeData.h).
  // RootNode is the element references resolve against. Scalars are read
  // only when Translate holds. A class variable always receives the result;
  // the object it held before is freed when the result is another object
  // (or nil), since the variable owned it.
  void ConvertSoapToNativeData(void* DataP, const rtl::TTypeInfo* TypeInfo, xml::IXMLNode* RootNode,
                               xml::IXMLNode* Node, bool Translate);
  // Reads one object of declared class AClass. ObjP, when given, points at
  // the variable holding the current object, which is filled in place when
  // it stays. The result is that object, a new one or nil; a new one is the
  // caller's. The variable itself is not changed. URI and TypeName are not
  // read. On failure a new object is freed before the exception leaves.
  TObject* ConvertSOAPToObject(xml::IXMLNode* RootNode, xml::IXMLNode* Node, const TClass* AClass,
                               const UnicodeString& URI, const UnicodeString& TypeName,
                               TObject** ObjP);
  // Fills an existing object: a remotable one reads itself.
  void LoadObject(TObject* Instance, xml::IXMLNode* RootNode, xml::IXMLNode* Node);
  // Sets one scalar (or TRemotableXS, or byte-array) property from text.
  void SetObjectPropFromText(TObject* Instance, const rtl::TPropInfo* PropInfo,
                             const UnicodeString& Text);
  // Reads the dynamic array at DataP, resizing it in place: entries beyond
  // the new length are freed (class items) before they are dropped. Name,
  // when not empty, restricts the items to children of that local name.
  void ConvertSoapToNativeArray(void* DataP, const rtl::TTypeInfo* TypeInfo,
                                xml::IXMLNode* RootNode, xml::IXMLNode* Node,
                                const UnicodeString& Name);
  UnicodeString GetNodeAsText(xml::IXMLNode* Node);
  // Node itself, or in encoded style the element its href/ref names (ID
  // then reports the reference); an unknown reference raises
  // ESOAPDomConvertError. Without a reference, ID reports Node's id.
  IntfPtr<xml::IXMLNode> GetDataNode(xml::IXMLNode* RootNode, xml::IXMLNode* Node,
                                     UnicodeString& ID);
  IntfPtr<xml::IXMLNode> GetDataNode(xml::IXMLNode* RootNode, xml::IXMLNode* Node);
  // Whether Node may stand for another element (encoded style, attributes).
  bool MayReference(xml::IXMLNode* Node);
  // GetDataNode without a count taken on its usual answer, Node itself;
  // keep holds an element taken in Node's place.
  xml::IXMLNode* DataNode(xml::IXMLNode* RootNode, xml::IXMLNode* Node,
                          IntfPtr<xml::IXMLNode>& keep);
  bool GetElementType(xml::IXMLNode* Node, UnicodeString& TypeURI, UnicodeString& TypeName);
  // Node absent, or carrying xsi:nil of "1"/"true".
  bool IsNilNode(xml::IXMLNode* Node);
  // IsNilNode, or an xsi:NULL of "1"/"true".
  bool NodeIsNULL(xml::IXMLNode* Node);
  // Forgets the multi-reference table and the ids of the last response.
  void ResetReadingState();

 protected:
  TSOAPConvertOptions FOptions;
  UnicodeString FEncoding;
  int FIDs = 1;  // the next multi-reference id
  TSOAPAttachments FAttachments;
  std::unique_ptr<TSoapEnvelope> FEnvelope;

 private:
  std::atomic<std::int32_t> FRefCount{0};
  bool FOwnerIsComponent = false;

  // reader state
  struct TReaderState;
  void ReadArrayItems(void* DataP, const rtl::TTypeInfo* TypeInfo, xml::IXMLNode* RootNode,
                      const std::vector<IntfPtr<xml::IXMLNode>>& Items);
  void ReadArrayEntry(void* Entry, const rtl::TTypeInfo* ElType, xml::IXMLNode* RootNode,
                      xml::IXMLNode* Item);
  // The object items of an array element that has no child list yet, read
  // from its DOM children one at a time; false when its DOM cannot be asked.
  bool ReadObjectItemsFromDOM(void* DataP, const rtl::TTypeInfo* TypeInfo, xml::IXMLNode* RootNode,
                              xml::IXMLNode* Node, const UnicodeString& Name);
  void ReadRectangular(void* DataP, const rtl::TTypeInfo* TypeInfo, xml::IXMLNode* RootNode,
                       const std::vector<std::size_t>& Dims, std::size_t Level,
                       const std::vector<IntfPtr<xml::IXMLNode>>& Items, std::size_t First);
  void ReadVariant(Variant& Value, xml::IXMLNode* Node);
  static void DeleteReaderState(TReaderState* state);
  // The multi-reference table and the nesting depth, made on first use.
  std::unique_ptr<TReaderState, void (*)(TReaderState*)> FReader{nullptr, &DeleteReaderState};
  TReaderState& Reader();
  // writer state
  // What the registries say about each class written, asked once per class
  // and used while a message is written (TWriterCacheScope); null outside.
  // Between messages it is kept aside, and taken again while the type
  // registry has not changed since it was made.
  struct TWriterCache;
  static void DeleteWriterCache(TWriterCache* cache);
  std::unique_ptr<TWriterCache, void (*)(TWriterCache*)> FWriterCache{nullptr, &DeleteWriterCache};
  std::unique_ptr<TWriterCache, void (*)(TWriterCache*)> FKeptWriterCache{nullptr,
                                                                          &DeleteWriterCache};
  // The class's type; the texts belong to the type registry (see ClassToURI).
  bool ClassURI(const TClass* Cls, const UnicodeString*& URI, const UnicodeString*& Name);
  TSerializationOptions ClassSerializeOptions(const TClass* Cls);

 protected:
  // Keeps the writer's registry answers for the lifetime of the scope.
  class TWriterCacheScope {
   public:
    explicit TWriterCacheScope(TSOAPDomConv& conv);
    ~TWriterCacheScope();
    TWriterCacheScope(const TWriterCacheScope&) = delete;
    TWriterCacheScope& operator=(const TWriterCacheScope&) = delete;

   private:
    TSOAPDomConv& FConv;
    bool FOwns;
  };

 private:
  struct TWriterMultiRef;
  void WriteValue(xml::IXMLNode* RootNode, xml::IXMLNode* ParentNode, const UnicodeString& Name,
                  const UnicodeString& URI, const UnicodeString& TypeName,
                  const rtl::TTypeInfo* Info, void* P, std::int32_t Flags);
  void WriteObjectProps(TObject* Instance, xml::IXMLNode* RootNode, xml::IXMLNode* Node,
                        const UnicodeString& ChildNamespace, TSerializationOptions SerialOpts);
  void WriteVariant(xml::IXMLNode* RootNode, xml::IXMLNode* ParentNode, const UnicodeString& Name,
                    const UnicodeString& URI, const Variant& Value);
  bool IsMultiRefCandidate(const TClass* Cls) const;
  void WriteHref(xml::IXMLNode* ParentNode, const UnicodeString& Name, TObject* Instance,
                 const UnicodeString& TypeURI, const UnicodeString& TypeName);
  std::vector<const TObject*> FObjsWriting;    // objects whose properties are being written
  const TClass* FRootClass = nullptr;          // declared class of the value being written
  TObject* FRootInstance = nullptr;            // and its instance
  std::shared_ptr<TWriterMultiRef> FMultiRef;  // encoded style: objects written by reference
};

}  // namespace delvan::soap
