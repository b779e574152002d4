// Interface metadata: the description of an invokable interface (its
// methods, inherited ones included, with their parameters) that the call
// driver and the converter work from, built from the interface's type
// information.
#pragma once

#include <cstdint>
#include <vector>

#include "rtl/Exception.h"
#include "rtl/TypInfo.h"

namespace delvan::soap {

// An interface or parameter without the type information a call needs.
class EInterfaceRTTIException : public Exception {
 public:
  using Exception::Exception;
};

struct TIntfParamEntry {
  std::uint8_t Flags = 0;  // rtl::pfVar, pfConst, pfOut, ...
  UnicodeString Name;
  const rtl::TTypeInfo* Info = nullptr;
};

struct TIntfMethEntry {
  UnicodeString Name;
  rtl::TCallConv CC = rtl::ccStdCall;
  int Pos = 0;  // the method's slot in the interface's table
  int ParamCount = 0;
  const rtl::TTypeInfo* ResultInfo = nullptr;  // null for a procedure
  const rtl::TTypeInfo* SelfInfo = nullptr;    // the interface that declares the method
  std::vector<TIntfParamEntry> Params;
  bool HasRTTI = false;
};

struct TIntfMetaData {
  UnicodeString Name;
  UnicodeString UnitName;
  std::vector<TIntfMethEntry> MDA;  // inherited methods first, in slot order
  TGUID IID;
  const rtl::TTypeInfo* Info = nullptr;
  const rtl::TTypeInfo* AncInfo = nullptr;  // the parent interface, null for the root
  int NumAnc = 0;                           // methods inherited from the ancestors
};

// Fills IntfMD from the type information of an interface. With
// MethodArrayOpt the method array holds the ancestors' methods too (the
// call driver's form); without it only the interface's own methods, whose
// Pos still counts the inherited slots. Raises EInterfaceRTTIException
// "Interface %s has no RTTI" (unit name "." interface name) for a type that
// is not an interface or whose chain lacks method descriptions, and
// "Parameter %s on Method %s of Interface %s has no RTTI" for a parameter
// without type information.
void GetIntfMetaData(const rtl::TTypeInfo* Info, TIntfMetaData& IntfMD, bool MethodArrayOpt = true);

// The same, returning the metadata with the ancestors' methods.
inline TIntfMetaData GetIntfMetaData(const rtl::TTypeInfo* Info) {
  TIntfMetaData md;
  GetIntfMetaData(Info, md, true);
  return md;
}

}  // namespace delvan::soap
