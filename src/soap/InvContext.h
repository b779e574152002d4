// Per-call contexts: TDataContext keeps the storage of one call and what
// must be released when the call ends; TInvContext adds the pointers to the
// call's arguments and result that the converter reads and fills.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "rtl/TypInfo.h"
#include "rtl/Variant.h"
#include "soap/Remotable.h"

namespace delvan::soap {

class TDataContext {
 public:
  TDataContext() = default;
  TDataContext(const TDataContext&) = delete;
  TDataContext& operator=(const TDataContext&) = delete;
  // Destroys the listed objects, then empties the listed variants, dynamic
  // arrays and strings, in that order.
  virtual ~TDataContext();

  // The next size bytes of the context's buffer, aligned for any scalar and
  // valid until the context is destroyed. When the buffer is used up the
  // bytes come from a further block, so earlier results stay valid.
  void* AllocData(std::size_t size);

  // The context destroys obj with itself unless it is removed first; an
  // object listed twice is destroyed once. Only remotable objects are taken,
  // so nothing listed is left undestroyed.
  void AddObjectToDestroy(TRemotable* obj);
  void RemoveObjectToDestroy(TRemotable* obj);
  // Each is reset (variant to Empty, array to length 0, string to empty)
  // when the context is destroyed; the storage must outlive the context.
  void AddVariantToClear(Variant* value);
  void AddDynArrayToClear(void* array, const rtl::TTypeInfo* info);
  void AddStrToClear(UnicodeString* value);

 protected:
  // Sizes the buffer for a call; earlier results of AllocData stay valid.
  void SetBufferSize(std::size_t size);

  std::vector<void*> FDataP;  // the data pointers of the call

 private:
  std::unique_ptr<std::byte[]> FBuffer;
  std::size_t FBufferSize = 0;
  std::size_t FBufferOffset = 0;
  std::vector<std::unique_ptr<std::byte[]>> FSpentBlocks;
  std::vector<TRemotable*> FObjsToDestroy;
  std::vector<Variant*> FVariantsToClear;
  std::vector<std::pair<void*, const rtl::TTypeInfo*>> FDynArraysToClear;
  std::vector<UnicodeString*> FStrsToClear;
};

class TInvContext : public TDataContext {
 public:
  // Sizes the context for a method: one data pointer per parameter plus
  // one, and a buffer of 20 bytes per parameter plus 20. All pointers null.
  void SetMethodInfo(const rtl::TMethodInfo& method) { SetMethodInfo(method.Params.size()); }
  void SetMethodInfo(std::size_t paramCount);

  // Raw pointers to the storage of parameter index (0-based). An index past
  // the data pointers (0 to the parameter count) raises EListError "List
  // index out of bounds (%d)" instead of touching memory outside them.
  void SetParamPointer(std::size_t index, void* data);
  void* GetParamPointer(std::size_t index) const;
  void SetResultPointer(void* data) { FResultP = data; }
  void* GetResultPointer() const { return FResultP; }

 private:
  void* FResultP = nullptr;
};

}  // namespace delvan::soap
