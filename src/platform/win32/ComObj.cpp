#include "platform/win32/ComObj.h"

// clang-format off
#include <oleauto.h>
// clang-format on

#include "rtl/Format.h"

namespace delvan::platform::win32 {

namespace {

UnicodeString FromBstr(BSTR value) {
  return value ? UnicodeString(reinterpret_cast<const char16_t*>(value), ::SysStringLen(value))
               : UnicodeString();
}

// Removes trailing characters U+0000 to U+0020 and dots.
UnicodeString TrimTail(UnicodeString text) {
  while (!text.empty() && (text.back() <= u' ' || text.back() == u'.')) text.pop_back();
  return text;
}

}  // namespace

Bstr::Bstr(UnicodeStringView text)
    : FValue(::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                                 static_cast<UINT>(text.size()))) {
  if (!FValue) throw std::bad_alloc();
}

UnicodeString Bstr::Text() const { return FromBstr(FValue); }

void OleVariant::Text(OleVariant& v, UnicodeStringView text) {
  VARIANT* p = v.put();
  p->vt = VT_BSTR;
  p->bstrVal = ::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                                   static_cast<UINT>(text.size()));
  if (!p->bstrVal) {
    p->vt = VT_EMPTY;
    throw std::bad_alloc();
  }
}

UnicodeString OleVariant::ToText() const {
  if (IsNull()) return {};
  if (FValue.vt == VT_BSTR) return FromBstr(FValue.bstrVal);
  VARIANT text;
  ::VariantInit(&text);
  OleCheck(::VariantChangeType(&text, const_cast<VARIANT*>(&FValue), 0, VT_BSTR));
  UnicodeString result = FromBstr(text.bstrVal);
  ::VariantClear(&text);
  return result;
}

UnicodeString SysErrorMessage(::HRESULT code) {
  wchar_t buffer[512];
  const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, static_cast<DWORD>(code), 0, buffer,
                                   static_cast<DWORD>(std::size(buffer)), nullptr);
  return TrimTail(UnicodeString(reinterpret_cast<const char16_t*>(buffer), n));
}

::HRESULT HandleSafeCallException(std::exception_ptr error, const GUID& iid) {
  UnicodeString description;
  UnicodeString helpFile;
  ::HRESULT code = E_UNEXPECTED;
  try {
    std::rethrow_exception(error);
  } catch (const EOleException& e) {
    description = e.Message();
    helpFile = e.HelpFile();
    if (e.ErrorCode() < 0) code = e.ErrorCode();
  } catch (const EOleSysError& e) {
    description = e.Message();
    if (e.ErrorCode() < 0) code = e.ErrorCode();
  } catch (const EAbort& e) {
    description = e.Message();
    code = kAbortCode;
  } catch (const Exception& e) {
    description = e.Message();
  } catch (const std::bad_alloc&) {
    code = E_OUTOFMEMORY;
  } catch (...) {
  }
  ICreateErrorInfo* create = nullptr;
  if (SUCCEEDED(::CreateErrorInfo(&create)) && create) {
    Bstr text(description);
    Bstr help(helpFile);
    create->SetGUID(iid);
    create->SetDescription(text.get());
    if (!helpFile.empty()) create->SetHelpFile(help.get());
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info))) &&
        info) {
      ::SetErrorInfo(0, info);
      info->Release();
    }
    create->Release();
  }
  return code;
}

void SafeCallError(::HRESULT code) {
  UnicodeString description, source, helpFile;
  DWORD helpContext = 0;
  IErrorInfo* info = nullptr;
  if (::GetErrorInfo(0, &info) == S_OK && info) {
    Bstr text, src, help;
    info->GetDescription(text.put());
    info->GetSource(src.put());
    info->GetHelpFile(help.put());
    info->GetHelpContext(&helpContext);
    description = text.Text();
    source = src.Text();
    helpFile = help.Text();
    info->Release();
  }
  if (code == kAbortCode) throw EAbort(description.empty() ? u"Operation aborted" : description);
  UnicodeString message = TrimTail(description);
  if (message.empty()) message = SysErrorMessage(code);
  if (message.empty()) message = Format(u"OLE error %.8x", {static_cast<unsigned>(code)});
  throw EOleException(std::move(message), code, std::move(source), std::move(helpFile),
                      static_cast<std::int32_t>(helpContext));
}

}  // namespace delvan::platform::win32
