#include "platform/posix/LocaleCodePage.h"

#include <langinfo.h>
#include <locale.h>

#include <cstdlib>
#include <string>

namespace delvan::platform::posix {
namespace {

// Lower-cases ASCII letters and drops '-' and '_': "ISO-8859-7" -> "iso88597".
std::string NormalizeCodeSet(std::string_view codeset) {
  std::string normalized;
  normalized.reserve(codeset.size());
  for (char c : codeset) {
    if (c == '-' || c == '_') continue;
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    normalized.push_back(c);
  }
  return normalized;
}

struct CodeSetName {
  std::string_view normalized;
  TCodePage codePage;
};

constexpr CodeSetName kCodeSets[] = {
    {"utf8", CP_UTF8},           {"iso88597", CP_ISO_8859_7},   {"cp1253", CP_GREEK},
    {"windows1253", CP_GREEK},   {"cp1252", CP_LATIN1},         {"windows1252", CP_LATIN1},
    {"iso88591", CP_ISO_8859_1}, {"ansix3.41968", CP_US_ASCII}, {"ascii", CP_US_ASCII},
    {"usascii", CP_US_ASCII},
};

// First non-empty of LC_ALL, LC_CTYPE and LANG; "C" when none is set.
const char* EffectiveCTypeLocaleName() {
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return value;
  }
  return "C";
}

}  // namespace

TCodePage CodePageFromCodeSet(std::string_view codeset) {
  const std::string normalized = NormalizeCodeSet(codeset);
  for (const CodeSetName& entry : kCodeSets) {
    if (entry.normalized == normalized) return entry.codePage;
  }
  // An unknown code set cannot be trusted for non-ASCII bytes.
  return CP_US_ASCII;
}

TCodePage CodePageFromLocaleName(std::string_view locale) {
  // language[_territory][.codeset][@modifier]
  std::string_view name = locale.substr(0, locale.find('@'));
  const std::size_t dot = name.find('.');
  if (dot != std::string_view::npos && dot + 1 < name.size()) {
    return CodePageFromCodeSet(name.substr(dot + 1));
  }
  const std::string_view language = name.substr(0, name.find_first_of("_."));
  // glibc's default code set for Greek locales.
  if (language == "el") return CP_ISO_8859_7;
  return CP_US_ASCII;
}

TCodePage DetectSystemCodePage() {
  const char* name = EffectiveCTypeLocaleName();
  locale_t loc = newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(0));
  if (loc == static_cast<locale_t>(0)) {
    // The locale is not installed (common in containers): go by its name.
    return CodePageFromLocaleName(name);
  }
  const char* codeset = nl_langinfo_l(CODESET, loc);
  const TCodePage codePage = (codeset != nullptr && *codeset != '\0')
                                 ? CodePageFromCodeSet(codeset)
                                 : CodePageFromLocaleName(name);
  freelocale(loc);
  return codePage;
}

}  // namespace delvan::platform::posix
