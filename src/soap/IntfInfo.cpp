#include "soap/IntfInfo.h"

namespace delvan::soap {

using rtl::TTypeInfo;

namespace {

UnicodeString QualifiedName(const TTypeInfo* info) {
  UnicodeString name(info->UnitName);
  name += u'.';
  name += info->Name;
  return name;
}

[[noreturn]] void NoRTTI(const TTypeInfo* info) {
  throw EInterfaceRTTIException(u"Interface %s has no RTTI",
                                {info ? QualifiedName(info) : UnicodeString(u"?")});
}

}  // namespace

void GetIntfMetaData(const TTypeInfo* Info, TIntfMetaData& IntfMD, bool MethodArrayOpt) {
  const rtl::TInterfaceTypeData* data = Info ? Info->Interface() : nullptr;
  if (!data || !data->HasMethods) NoRTTI(Info);

  // The chain from the root interface down to Info.
  std::vector<const TTypeInfo*> chain;
  for (const TTypeInfo* t = Info; t; t = t->Interface()->Parent) {
    const rtl::TInterfaceTypeData* d = t->Interface();
    if (!d || !d->HasMethods) NoRTTI(t);
    chain.insert(chain.begin(), t);
    if (chain.size() > 64) NoRTTI(Info);  // a malformed, circular chain
  }

  TIntfMetaData md;
  md.Name = UnicodeString(Info->Name);
  md.UnitName = UnicodeString(Info->UnitName);
  md.IID = data->Guid;
  md.Info = Info;
  md.AncInfo = data->Parent;
  int pos = 0;
  for (const TTypeInfo* t : chain) {
    const bool own = t == Info;
    for (const rtl::TMethodInfo& m : t->Interface()->Methods) {
      if (!own) ++md.NumAnc;
      if (own || MethodArrayOpt) {
        TIntfMethEntry e;
        e.Name = UnicodeString(m.Name);
        e.CC = m.CC;
        e.Pos = pos;
        e.ParamCount = static_cast<int>(m.Params.size());
        e.ResultInfo = m.ResultInfo;
        e.SelfInfo = t;
        e.HasRTTI = true;
        for (const rtl::TParamInfo& p : m.Params) {
          // Only the interface name here: the unit goes into the other message alone.
          if (!p.Info)
            throw EInterfaceRTTIException(u"Parameter %s on Method %s of Interface %s has no RTTI",
                                          {p.Name, m.Name, t->Name});
          e.Params.push_back({p.Flags, UnicodeString(p.Name), p.Info});
        }
        md.MDA.push_back(std::move(e));
      }
      ++pos;
    }
  }
  IntfMD = std::move(md);
}

}  // namespace delvan::soap
