// Helpers shared by the tests: fixtures and code-page shorthands.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

#include "platform/CodePage.h"
#include "rtl/UnicodeString.h"

namespace delvan::test {

// The bytes of a file under tests/fixtures.
inline std::string ReadFixture(const std::string& name) {
  std::ifstream in(std::string(DELVAN_FIXTURES_DIR) + "/" + name, std::ios::binary);
  if (!in) throw std::runtime_error("missing fixture " + name);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline UnicodeString U(std::string_view utf8) {
  return platform::MultiByteToWideChar(platform::CP_UTF8, 0, utf8);
}

inline std::string Utf8(UnicodeStringView text) {
  return platform::WideCharToMultiByte(platform::CP_UTF8, 0, text);
}

}  // namespace delvan::test
