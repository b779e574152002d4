#include "soap/IntfInfo.h"

namespace delvan::soap {

namespace {

UnicodeString QualifiedName(const rtl::TTypeInfo* info) {
  UnicodeString name(info->UnitName);
  name += u'.';
  name += info->Name;
  return name;
}

}  // namespace

TIntfMetaData GetIntfMetaData(const rtl::TTypeInfo* info, bool includeAll) {
  const rtl::TInterfaceTypeData* data = info ? info->Interface() : nullptr;
  if (!data)
    throw EInterfaceRTTIException(u"Interface %s has no RTTI",
                                  {info ? QualifiedName(info) : UnicodeString()});
  TIntfMetaData md;
  md.Name = info->Name;
  md.UnitName = info->UnitName;
  md.IID = data->Guid;
  md.Info = info;
  md.AncInfo = data->Parent;

  // The chain from the root interface down to info.
  std::vector<const rtl::TTypeInfo*> chain;
  for (const rtl::TTypeInfo* t = info; t; t = t->Interface() ? t->Interface()->Parent : nullptr) {
    if (!t->Interface() || !t->Interface()->HasMethods)
      throw EInterfaceRTTIException(u"Interface %s has no RTTI", {QualifiedName(t)});
    chain.insert(chain.begin(), t);
  }
  int pos = 0;
  for (const rtl::TTypeInfo* t : chain) {
    const bool own = t == info;
    for (const rtl::TMethodInfo& m : t->Interface()->Methods) {
      if (!own) ++md.NumAnc;
      if (!own && !includeAll) {
        ++pos;
        continue;
      }
      TIntfMethEntry e;
      e.Name = m.Name;
      e.CC = m.CC;
      e.Pos = pos++;
      e.ParamCount = static_cast<int>(m.Params.size());
      e.ResultInfo = m.ResultInfo;
      e.SelfInfo = t;
      for (const rtl::TParamInfo& p : m.Params) {
        if (!p.Info)
          throw EInterfaceRTTIException(u"Parameter %s on Method %s of Interface %s has no RTTI",
                                        {p.Name, m.Name, QualifiedName(info)});
        e.Params.push_back({p.Flags, UnicodeString(p.Name), p.Info});
      }
      md.MDA.push_back(std::move(e));
    }
  }
  return md;
}

}  // namespace delvan::soap
