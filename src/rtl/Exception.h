// The exception base of the system: a UTF-16 message, with what() giving it
// in UTF-8. Each layer derives its own classes from Exception.
#pragma once

#include <exception>
#include <string>

#include "rtl/Format.h"
#include "rtl/UnicodeString.h"

namespace delvan {

class Exception : public std::exception {
 public:
  explicit Exception(UnicodeString message = {}) : FMessage(std::move(message)) {}
  // Formats the message with Format's placeholders.
  Exception(UnicodeStringView format, std::initializer_list<FormatArg> args)
      : FMessage(Format(format, args)) {}

  const UnicodeString& Message() const noexcept { return FMessage; }
  void SetMessage(UnicodeString message) {
    FMessage = std::move(message);
    FUtf8.clear();
  }
  // The message in UTF-8; valid until the message changes.
  const char* what() const noexcept override;

 private:
  UnicodeString FMessage;
  mutable std::string FUtf8;
};

// The silent abort: a deliberate stop, not an error of its own.
class EAbort : public Exception {
 public:
  EAbort() : Exception(u"Operation aborted") {}
  using Exception::Exception;
};

// Text that does not convert to the value asked for.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// An index outside a list ("List index out of bounds (%d)").
class EListError : public Exception {
 public:
  using Exception::Exception;
};

// Reading or writing a stream past what it can give or take.
class EStreamError : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace delvan
