// COM failures as exceptions and back: the exception classes of the COM
// boundary, the bridge that turns an exception into a failure code with the
// thread's error information (and a failure code into an exception), and
// small owners of COM references, wide strings and variants.
//
// Include after the platform headers: it brings in the system headers.
#pragma once

#include <cstdint>
#include <exception>
#include <utility>

#include "rtl/Exception.h"
#include "rtl/UnicodeString.h"

// clang-format off
#include <windows.h>
#include <oleauto.h>
// clang-format on

namespace delvan::platform::win32 {

// A failure that carries a system (COM) error code.
class EOleSysError : public Exception {
 public:
  EOleSysError(UnicodeString message, ::HRESULT code)
      : Exception(std::move(message)), FErrorCode(code) {}
  ::HRESULT ErrorCode() const { return FErrorCode; }

 private:
  ::HRESULT FErrorCode;
};

// A failure reported across the COM boundary, with its error information.
class EOleException : public EOleSysError {
 public:
  EOleException(UnicodeString message, ::HRESULT code, UnicodeString source, UnicodeString helpFile,
                std::int32_t helpContext)
      : EOleSysError(std::move(message), code),
        FSource(std::move(source)),
        FHelpFile(std::move(helpFile)),
        FHelpContext(helpContext) {}
  const UnicodeString& Source() const { return FSource; }
  const UnicodeString& HelpFile() const { return FHelpFile; }
  std::int32_t HelpContext() const { return FHelpContext; }

 private:
  UnicodeString FSource;
  UnicodeString FHelpFile;
  std::int32_t FHelpContext;
};

// The code that stands for the silent abort on the COM boundary.
inline constexpr ::HRESULT kAbortCode = static_cast<::HRESULT>(0xA0004004u);

// The callee's half: makes the exception the thread's error information
// (CreateErrorInfo, SetErrorInfo; failing interface iid, the help file of
// an EOleException) and returns its code: an EOleSysError's own negative
// code, kAbortCode for EAbort, E_UNEXPECTED otherwise (and for anything that
// is no Exception, with an empty description).
::HRESULT HandleSafeCallException(std::exception_ptr error, const GUID& iid);

// The caller's half: raises the failure code as an exception, taking the
// description, source and help from the thread's error information. Only
// for failure codes.
[[noreturn]] void SafeCallError(::HRESULT code);

// Raises a failed code (SafeCallError); success codes, S_FALSE included,
// pass.
inline void OleCheck(::HRESULT code) {
  if (FAILED(code)) SafeCallError(code);
}

// The system's text for a code, trailing line breaks and dots removed;
// empty when it has none.
UnicodeString SysErrorMessage(::HRESULT code);

// Holds one COM reference.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  explicit ComPtr(T* p, bool addRef = true) : FPtr(p) {
    if (FPtr && addRef) FPtr->AddRef();
  }
  ComPtr(const ComPtr& o) : ComPtr(o.FPtr) {}
  ComPtr(ComPtr&& o) noexcept : FPtr(std::exchange(o.FPtr, nullptr)) {}
  ~ComPtr() { reset(); }
  ComPtr& operator=(ComPtr o) noexcept {
    std::swap(FPtr, o.FPtr);
    return *this;
  }
  void reset() {
    if (T* p = std::exchange(FPtr, nullptr)) p->Release();
  }
  // For an out-parameter: releases what is held and hands the slot out.
  T** put() {
    reset();
    return &FPtr;
  }
  T* get() const { return FPtr; }
  T* operator->() const { return FPtr; }
  explicit operator bool() const { return FPtr != nullptr; }
  // Asks for another interface; empty when the object says no.
  template <class U>
  ComPtr<U> As() const {
    ComPtr<U> out;
    if (FPtr) FPtr->QueryInterface(__uuidof(U), reinterpret_cast<void**>(out.put()));
    return out;
  }

 private:
  T* FPtr = nullptr;
};

// Owns a BSTR made from UTF-16 text.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(UnicodeStringView text);
  ~Bstr() { ::SysFreeString(FValue); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return FValue; }
  BSTR* put() {
    ::SysFreeString(FValue);
    FValue = nullptr;
    return &FValue;
  }
  UnicodeString Text() const;

 private:
  BSTR FValue = nullptr;
};

// Owns a VARIANT.
class OleVariant {
 public:
  OleVariant() { ::VariantInit(&FValue); }
  ~OleVariant() { ::VariantClear(&FValue); }
  OleVariant(const OleVariant&) = delete;
  OleVariant& operator=(const OleVariant&) = delete;
  static void Text(OleVariant& v, UnicodeStringView text);
  VARIANT& get() { return FValue; }
  VARIANT* put() {
    ::VariantClear(&FValue);
    return &FValue;
  }
  bool IsNull() const { return FValue.vt == VT_NULL || FValue.vt == VT_EMPTY; }
  // The general conversion to text; Null and Empty give empty text.
  UnicodeString ToText() const;

 private:
  VARIANT FValue;
};

}  // namespace delvan::platform::win32
