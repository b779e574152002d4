#include "soap/InvContext.h"

#include <algorithm>

#include "rtl/Exception.h"

namespace delvan::soap {

namespace {
constexpr std::size_t kAlign = alignof(std::max_align_t);
constexpr std::size_t RoundUp(std::size_t n) { return (n + kAlign - 1) / kAlign * kAlign; }

[[noreturn]] void OutOfBounds(std::size_t index) {
  throw EListError(u"List index out of bounds (%d)", {static_cast<long long>(index)});
}
}  // namespace

TDataContext::~TDataContext() {
  for (TRemotable* obj : FObjsToDestroy) delete obj;
  for (Variant* v : FVariantsToClear) *v = Variant();
  for (auto [array, info] : FDynArraysToClear)
    if (const rtl::TDynArrayTypeData* d = info ? info->DynArray() : nullptr) d->SetLength(array, 0);
  for (UnicodeString* s : FStrsToClear) s->clear();
}

void TDataContext::SetBufferSize(std::size_t size) {
  if (FBuffer) FSpentBlocks.push_back(std::move(FBuffer));
  FBufferSize = RoundUp(size);
  FBuffer = FBufferSize ? std::make_unique<std::byte[]>(FBufferSize) : nullptr;
  FBufferOffset = 0;
}

// The buffer holds what a call usually needs; a request beyond it gets a
// block of its own rather than running past the buffer's end.
void* TDataContext::AllocData(std::size_t size) {
  const std::size_t rounded = RoundUp(std::max<std::size_t>(size, 1));
  if (FBuffer && rounded <= FBufferSize - FBufferOffset) {
    void* p = FBuffer.get() + FBufferOffset;
    FBufferOffset += rounded;
    return p;
  }
  return FSpentBlocks.emplace_back(std::make_unique<std::byte[]>(rounded)).get();
}

void TDataContext::AddObjectToDestroy(TRemotable* obj) {
  if (obj && std::find(FObjsToDestroy.begin(), FObjsToDestroy.end(), obj) == FObjsToDestroy.end())
    FObjsToDestroy.push_back(obj);
}

void TDataContext::RemoveObjectToDestroy(TRemotable* obj) { std::erase(FObjsToDestroy, obj); }

void TDataContext::AddVariantToClear(Variant* value) {
  if (value) FVariantsToClear.push_back(value);
}

void TDataContext::AddDynArrayToClear(void* array, const rtl::TTypeInfo* info) {
  if (array) FDynArraysToClear.emplace_back(array, info);
}

void TDataContext::AddStrToClear(UnicodeString* value) {
  if (value) FStrsToClear.push_back(value);
}

void TInvContext::SetMethodInfo(std::size_t paramCount) {
  FDataP.assign(paramCount + 1, nullptr);
  FResultP = nullptr;
  SetBufferSize(20 * paramCount + 20);
}

void TInvContext::SetParamPointer(std::size_t index, void* data) {
  if (index >= FDataP.size()) OutOfBounds(index);
  FDataP[index] = data;
}

void* TInvContext::GetParamPointer(std::size_t index) const {
  if (index >= FDataP.size()) OutOfBounds(index);
  return FDataP[index];
}

}  // namespace delvan::soap
