// Byte streams with a position: the abstract TStream and the in-memory
// TMemoryStream that request and response bodies travel in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace delvan {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
 public:
  virtual ~TStream() = default;

  // Reads up to count bytes at the position; returns how many were read.
  virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
  // Writes count bytes at the position; returns how many were written.
  virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
  // Moves the position; returns the new one.
  virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;

  virtual std::int64_t Size();
  virtual void SetSize(std::int64_t size);

  std::int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(std::int64_t pos) { Seek(pos, TSeekOrigin::soBeginning); }

  // Read or write exactly count bytes, or raise EStreamError.
  void ReadBuffer(void* buffer, std::int64_t count);
  void WriteBuffer(const void* buffer, std::int64_t count);
  void WriteBytes(std::string_view bytes) {
    WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  }

  // Copies count bytes from source at its position (0: all of source,
  // from its start). Returns the number of bytes copied.
  std::int64_t CopyFrom(TStream& source, std::int64_t count);

  // The bytes from the position to the end; the position moves to the end.
  std::string ReadRest();
};

class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string_view bytes) { WriteBytes(bytes), SetPosition(0); }

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(FSize); }
  void SetSize(std::int64_t size) override;

  // The stream's bytes; valid until the stream next grows or is freed.
  const char* Memory() const { return FData.get(); }
  std::string_view View() const { return {FData.get(), FSize}; }
  void Clear();

 private:
  void Reserve(std::size_t capacity);

  std::unique_ptr<char[]> FData;
  std::size_t FSize = 0;
  std::size_t FCapacity = 0;
  std::size_t FPosition = 0;
};

}  // namespace delvan
