#include "rtl/Stream.h"

#include <algorithm>
#include <cstring>

#include "rtl/Exception.h"

namespace delvan {

std::int64_t TStream::Size() {
  std::int64_t pos = Seek(0, TSeekOrigin::soCurrent);
  std::int64_t size = Seek(0, TSeekOrigin::soEnd);
  Seek(pos, TSeekOrigin::soBeginning);
  return size;
}

void TStream::SetSize(std::int64_t) { throw EStreamError(u"Stream size cannot be changed"); }

void TStream::ReadBuffer(void* buffer, std::int64_t count) {
  if (count > 0 && Read(buffer, count) != count) throw EStreamError(u"Stream read error");
}

void TStream::WriteBuffer(const void* buffer, std::int64_t count) {
  if (count > 0 && Write(buffer, count) != count) throw EStreamError(u"Stream write error");
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  char buf[32768];
  std::int64_t done = 0;
  while (done < count) {
    std::int64_t n = std::min<std::int64_t>(sizeof buf, count - done);
    source.ReadBuffer(buf, n);
    WriteBuffer(buf, n);
    done += n;
  }
  return done;
}

std::string TStream::ReadRest() {
  std::string out;
  char buf[32768];
  for (;;) {
    std::int64_t n = Read(buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  return out;
}

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count) {
  if (count <= 0 || FPosition >= FSize) return 0;
  std::size_t n = std::min(static_cast<std::size_t>(count), FSize - FPosition);
  std::memcpy(buffer, FData.get() + FPosition, n);
  FPosition += n;
  return static_cast<std::int64_t>(n);
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  std::size_t n = static_cast<std::size_t>(count);
  std::size_t end = FPosition + n;
  if (end > FCapacity) Reserve(std::max(end, FCapacity + FCapacity / 2));
  // Writing past the end after a seek leaves zeros in the gap.
  if (FPosition > FSize) std::memset(FData.get() + FSize, 0, FPosition - FSize);
  std::memcpy(FData.get() + FPosition, buffer, n);
  FPosition = end;
  FSize = std::max(FSize, end);
  return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  std::int64_t base = origin == TSeekOrigin::soBeginning ? 0
                      : origin == TSeekOrigin::soCurrent ? static_cast<std::int64_t>(FPosition)
                                                         : static_cast<std::int64_t>(FSize);
  std::int64_t pos = base + offset;
  if (pos < 0) pos = 0;
  FPosition = static_cast<std::size_t>(pos);
  return pos;
}

void TMemoryStream::SetSize(std::int64_t size) {
  std::size_t n = size < 0 ? 0 : static_cast<std::size_t>(size);
  if (n > FCapacity) Reserve(n);
  if (n > FSize) std::memset(FData.get() + FSize, 0, n - FSize);
  FSize = n;
  FPosition = std::min(FPosition, FSize);
}

void TMemoryStream::Clear() {
  FData.reset();
  FSize = FCapacity = FPosition = 0;
}

void TMemoryStream::Reserve(std::size_t capacity) {
  capacity = std::max<std::size_t>(capacity, 256);
  std::unique_ptr<char[]> data(new char[capacity]);
  if (FSize) std::memcpy(data.get(), FData.get(), FSize);
  FData = std::move(data);
  FCapacity = capacity;
}

}  // namespace delvan
