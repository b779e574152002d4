// Fuzz target for the result text's quoting and the command-line tool's
// reading of it: items joined by the library split back into the same
// items, the tool's JSON of any text is well-formed, and any bytes the
// library might return decode without fault.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "DelvanCli.h"
#include "lookup/ResultText.h"

using namespace delvan;

namespace {

// A small JSON grammar check (RFC 8259), enough to see a broken escape.
struct Json {
  const std::string& s;
  std::size_t i = 0;
  void Ws() {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\n' || s[i] == '\r' || s[i] == '\t')) ++i;
  }
  bool Lit(const char* t) {
    const std::size_t n = std::strlen(t);
    if (s.compare(i, n, t) != 0) return false;
    i += n;
    return true;
  }
  bool String() {
    if (!Lit("\"")) return false;
    while (i < s.size()) {
      const unsigned char c = static_cast<unsigned char>(s[i++]);
      if (c == '"') return true;
      if (c < 0x20) return false;
      if (c == '\\') {
        if (i >= s.size()) return false;
        const char e = s[i++];
        if (e == 'u') {
          for (int k = 0; k < 4; ++k, ++i)
            if (i >= s.size() || !std::isxdigit(static_cast<unsigned char>(s[i]))) return false;
        } else if (!std::strchr("\"\\/bfnrt", e)) {
          return false;
        }
      }
    }
    return false;
  }
  bool Value() {
    Ws();
    if (i >= s.size()) return false;
    bool ok;
    if (s[i] == '{' || s[i] == '[') {
      const char close = s[i] == '{' ? '}' : ']';
      const bool object = s[i] == '{';
      ++i;
      Ws();
      if (i < s.size() && s[i] == close) {
        ++i;
        return true;
      }
      for (;;) {
        if (object) {
          Ws();
          if (!String()) return false;
          Ws();
          if (!Lit(":")) return false;
        }
        if (!Value()) return false;
        Ws();
        if (Lit(",")) continue;
        return Lit(std::string(1, close).c_str());
      }
    }
    if (s[i] == '"') return String();
    ok = Lit("true") || Lit("false") || Lit("null");
    if (!ok) {
      const std::size_t start = i;
      while (i < s.size() && std::strchr("+-0123456789.eE", s[i])) ++i;
      ok = i > start;
    }
    return ok;
  }
  bool Document() {
    if (!Value()) return false;
    Ws();
    return i == s.size();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::size_t length = size / 2;
  UnicodeString text(length, u'\0');
  std::memcpy(text.data(), data, length * sizeof(char16_t));

  // The input as the bytes the library returned.
  bool failed = false;
  (void)cli::DecodeLookupText(std::string(reinterpret_cast<const char*>(data), size), failed);

  // The input as a text the tool reads.
  const std::vector<cli::ResultItem> parsed = cli::ParseResultItems(text);
  const std::string json = cli::ItemsToJson(parsed);
  if (!Json{json}.Document()) std::abort();
  (void)cli::ItemsToTable(parsed);

  // The input as items, cut at U+0000: each "name=value" the library quotes
  // must come back as it went in.
  std::vector<UnicodeString> items;
  std::vector<cli::ResultItem> expected;
  for (std::size_t at = 0; at <= text.size();) {
    std::size_t end = text.find(u'\0', at);
    if (end == UnicodeString::npos) end = text.size();
    UnicodeString item = text.substr(at, end - at);
    at = end + 1;
    const std::size_t eq = item.find(u'=');
    if (eq == UnicodeString::npos || item.empty()) continue;
    expected.emplace_back(item.substr(0, eq), item.substr(eq + 1));
    items.push_back(std::move(item));
  }
  if (!items.empty() && cli::ParseResultItems(lookup::JoinItems(items)) != expected) std::abort();
  return 0;
}
