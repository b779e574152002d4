#include "soap/OPToSOAPDomConv.h"

namespace delvan::soap {

constinit const rtl::TClass TOPToSoapDomConvert::StaticClass =
    rtl::DefineClass<TOPToSoapDomConvert, TSOAPDomConv>(TOPToSoapDomConvert::StaticClass,
                                                        u"TOPToSoapDomConvert",
                                                        u"Soap.OPToSOAPDomConv");

TOPToSoapDomConvert::TOPToSoapDomConvert(TComponent* owner) : TSOAPDomConv(owner) {
  FOptions = FOptions | TSOAPConvertOptions::FromBits(DefaultConvertOptionsMask);
}

TOPToSoapDomConvert::~TOPToSoapDomConvert() = default;

HRESULT TOPToSoapDomConvert::QueryInterface(const TGUID& iid, void** obj) {
  if (!obj) return E_POINTER;
  if (iid == IOPConvert::IID) {
    *obj = static_cast<IOPConvert*>(this);
    _AddRef();
    return S_OK;
  }
  return TSOAPDomConv::QueryInterface(iid, obj);
}

}  // namespace delvan::soap
