// Counted interfaces: GUIDs, the IInterface base with QueryInterface,
// _AddRef and _Release, a counted base object, and an intrusive smart
// pointer that holds one counted reference.
#pragma once

#include <algorithm>
#include <atomic>
#include <compare>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <tuple>
#include <type_traits>
#include <utility>

#include "rtl/UnicodeString.h"

namespace delvan {

using HRESULT = std::int32_t;
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);

struct TGUID {
  std::uint32_t D1 = 0;
  std::uint16_t D2 = 0;
  std::uint16_t D3 = 0;
  std::uint8_t D4[8] = {};

  // Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" at compile time.
  static consteval TGUID Parse(const char* s);
  // The registry form, upper-case hexadecimal between braces.
  UnicodeString ToString() const;

  // Asked on every interface query: compared as two words at run time
  // rather than field by field.
  friend constexpr bool operator==(const TGUID& a, const TGUID& b) {
    if (std::is_constant_evaluated())
      return a.D1 == b.D1 && a.D2 == b.D2 && a.D3 == b.D3 &&
             std::equal(std::begin(a.D4), std::end(a.D4), std::begin(b.D4));
    return std::memcmp(&a, &b, sizeof(TGUID)) == 0;
  }
  friend constexpr auto operator<=>(const TGUID&, const TGUID&) = default;

 private:
  static consteval std::uint32_t HexAt(const char* s, int pos, int digits) {
    std::uint32_t v = 0;
    for (int i = 0; i < digits; ++i) {
      char c = s[pos + i];
      int d = (c >= '0' && c <= '9')   ? c - '0'
              : (c >= 'a' && c <= 'f') ? c - 'a' + 10
              : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                       : throw "not a GUID";
      v = v * 16 + static_cast<std::uint32_t>(d);
    }
    return v;
  }
};
static_assert(sizeof(TGUID) == 16, "compared as raw bytes");

consteval TGUID TGUID::Parse(const char* s) {
  if (s[0] != '{' || s[9] != '-' || s[14] != '-' || s[19] != '-' || s[24] != '-' || s[37] != '}')
    throw "not a GUID";
  TGUID g;
  g.D1 = HexAt(s, 1, 8);
  g.D2 = static_cast<std::uint16_t>(HexAt(s, 10, 4));
  g.D3 = static_cast<std::uint16_t>(HexAt(s, 15, 4));
  g.D4[0] = static_cast<std::uint8_t>(HexAt(s, 20, 2));
  g.D4[1] = static_cast<std::uint8_t>(HexAt(s, 22, 2));
  for (int i = 0; i < 6; ++i) g.D4[2 + i] = static_cast<std::uint8_t>(HexAt(s, 25 + 2 * i, 2));
  return g;
}

// The root of every counted interface. A QueryInterface that succeeds hands
// out a reference that the caller owns (already counted).
class IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{00000000-0000-0000-C000-000000000046}");
  virtual HRESULT QueryInterface(const TGUID& iid, void** obj) = 0;
  virtual std::int32_t _AddRef() = 0;
  virtual std::int32_t _Release() = 0;

 protected:
  ~IInterface() = default;
};

// The base of every interface that the SOAP layer can call remotely.
class IInvokable : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{537030DC-027C-431C-A426-5F7D6F31C619}");

 protected:
  ~IInvokable() = default;
};

// Holds one counted reference to T (an interface or a counted object).
template <class T>
class IntfPtr {
 public:
  IntfPtr() = default;
  IntfPtr(std::nullptr_t) {}
  // Counts a new reference to p.
  IntfPtr(T* p) : FPtr(p) {
    if (FPtr) FPtr->_AddRef();
  }
  IntfPtr(const IntfPtr& o) : IntfPtr(o.FPtr) {}
  IntfPtr(IntfPtr&& o) noexcept : FPtr(std::exchange(o.FPtr, nullptr)) {}
  template <class U>
  IntfPtr(const IntfPtr<U>& o) : IntfPtr(static_cast<T*>(o.get())) {}
  // Takes over the reference of a pointer to a derived interface: no count
  // taken and given back (each an interlocked operation).
  template <class U>
  IntfPtr(IntfPtr<U>&& o) noexcept : FPtr(static_cast<T*>(o.Detach())) {}
  ~IntfPtr() { reset(); }

  IntfPtr& operator=(IntfPtr o) noexcept {
    std::swap(FPtr, o.FPtr);
    return *this;
  }

  // Takes over a reference that is already counted (as QueryInterface gives).
  static IntfPtr Adopt(T* p) {
    IntfPtr r;
    r.FPtr = p;
    return r;
  }
  // Gives up the reference without releasing it.
  T* Detach() { return std::exchange(FPtr, nullptr); }

  void reset() {
    if (T* p = std::exchange(FPtr, nullptr)) p->_Release();
  }
  T* get() const { return FPtr; }
  T* operator->() const { return FPtr; }
  T& operator*() const { return *FPtr; }
  explicit operator bool() const { return FPtr != nullptr; }
  friend bool operator==(const IntfPtr& a, const IntfPtr& b) { return a.FPtr == b.FPtr; }
  friend bool operator==(const IntfPtr& a, std::nullptr_t) { return a.FPtr == nullptr; }

 private:
  T* FPtr = nullptr;
};

// Asks obj for interface T (by T::IID). Empty when obj is null or says no.
template <class T, class U>
IntfPtr<T> QueryIntf(U* obj) {
  void* out = nullptr;
  if (obj && obj->QueryInterface(T::IID, &out) == S_OK && out)
    return IntfPtr<T>::Adopt(static_cast<T*>(out));
  return {};
}
template <class T, class U>
IntfPtr<T> QueryIntf(const IntfPtr<U>& obj) {
  return QueryIntf<T>(obj.get());
}

// A counted object that destroys itself when its last reference goes.
// Derived classes answer for their interfaces in QueryInterface and pass
// every other IID to this base, which answers for IInterface.
class TInterfacedObject : public IInterface {
 public:
  TInterfacedObject() = default;
  TInterfacedObject(const TInterfacedObject&) = delete;
  TInterfacedObject& operator=(const TInterfacedObject&) = delete;
  virtual ~TInterfacedObject() = default;

  HRESULT QueryInterface(const TGUID& iid, void** obj) override {
    if (!obj) return E_POINTER;
    if (iid == IInterface::IID) {
      *obj = static_cast<IInterface*>(this);
      _AddRef();
      return S_OK;
    }
    *obj = nullptr;
    return E_NOINTERFACE;
  }
  std::int32_t _AddRef() override { return FRefCount.fetch_add(1, std::memory_order_relaxed) + 1; }
  std::int32_t _Release() override {
    std::int32_t n = FRefCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (n == 0) delete this;
    return n;
  }
  std::int32_t RefCount() const { return FRefCount.load(std::memory_order_relaxed); }

 protected:
  // Answers for one interface of this object: stores it and counts it.
  template <class I>
  HRESULT Answer(I* self, void** obj) {
    *obj = self;
    _AddRef();
    return S_OK;
  }

 private:
  std::atomic<std::int32_t> FRefCount{0};
};

// A counted object that implements the interfaces Intfs (each derived from
// IInterface) and destroys itself when its last reference goes.
// QueryInterface answers for each of Intfs and for IInterface; a derived
// class answers for further interfaces (such as the bases of Intfs) in
// QueryOther.
template <class... Intfs>
class TInterfacedImpl : public Intfs... {
 public:
  TInterfacedImpl() = default;
  TInterfacedImpl(const TInterfacedImpl&) = delete;
  TInterfacedImpl& operator=(const TInterfacedImpl&) = delete;
  virtual ~TInterfacedImpl() = default;

  HRESULT QueryInterface(const TGUID& iid, void** obj) override {
    if (!obj) return E_POINTER;
    *obj = nullptr;
    if (iid == IInterface::IID) {
      *obj = static_cast<IInterface*>(static_cast<First*>(this));
    } else {
      (void)((iid == Intfs::IID ? (*obj = static_cast<Intfs*>(this), true) : false) || ...);
      if (!*obj) *obj = QueryOther(iid);
    }
    if (!*obj) return E_NOINTERFACE;
    _AddRef();
    return S_OK;
  }
  std::int32_t _AddRef() override { return FRefCount.fetch_add(1, std::memory_order_relaxed) + 1; }
  std::int32_t _Release() override {
    std::int32_t n = FRefCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (n == 0) delete this;
    return n;
  }

 protected:
  using First = std::tuple_element_t<0, std::tuple<Intfs...>>;
  // The interface pointer for iid (not yet counted), or null.
  virtual void* QueryOther(const TGUID&) { return nullptr; }

 private:
  std::atomic<std::int32_t> FRefCount{0};
};

}  // namespace delvan
