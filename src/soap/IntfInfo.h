// Interface metadata: the description of an invokable interface that the
// call driver, the converter and the transport work from, built from the
// interface's run-time type information with its ancestors' methods first.
#pragma once

#include <cstdint>
#include <vector>

#include "rtl/Exception.h"
#include "rtl/TypInfo.h"

namespace delvan::soap {

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
  int Pos = 0;  // the method's slot index in the interface's table
  int ParamCount = 0;
  const rtl::TTypeInfo* ResultInfo = nullptr;  // null for a procedure
  const rtl::TTypeInfo* SelfInfo = nullptr;    // the interface that declares the method
  std::vector<TIntfParamEntry> Params;
  bool HasRTTI = true;
};

struct TIntfMetaData {
  UnicodeString Name;
  UnicodeString UnitName;
  std::vector<TIntfMethEntry> MDA;  // inherited methods first, in slot order
  TGUID IID;
  const rtl::TTypeInfo* Info = nullptr;
  const rtl::TTypeInfo* AncInfo = nullptr;  // the parent interface
  int NumAnc = 0;                           // number of inherited methods
};

// Describes the interface info. Raises EInterfaceRTTIException "Interface %s
// has no RTTI" (unit name, ".", interface name) when info, or an ancestor,
// carries no method descriptions, and "Parameter %s on Method %s of
// Interface %s has no RTTI" for a parameter without type information.
// includeAll: with the ancestors' methods (as the driver always asks).
TIntfMetaData GetIntfMetaData(const rtl::TTypeInfo* info, bool includeAll = true);

}  // namespace delvan::soap
