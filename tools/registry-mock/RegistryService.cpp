#include "RegistryService.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

namespace delvan::registrymock {

namespace {

using Field = std::pair<const char*, std::optional<std::string>>;  // nullopt: xsi:nil
using Fields = std::vector<Field>;

struct Taxpayer {
  const char* afm;
  Fields basic;
  std::vector<Fields> activities;
  const char* callSeqId;
  Fields error;  // empty: both fields nil
};

const std::vector<Taxpayer>& DataSet() {
  static const std::vector<Taxpayer> data{
      {"094019245",
       {{"afm", "094019245"},
        {"stopDate", std::nullopt},
        {"postalAddressNo", "5"},
        {"doyDescr", "ΦΑΕ-ΑΘΗΝΩΝ"},
        {"doy", "1159"},
        {"onomasia", "ΕΛΛΗΝΙΚΗ ΕΤΑΙΡΕΙΑ \"ΔΕΛΤΑ\" Α.Ε."},
        {"legalStatusDescr", "ΑΕ"},
        {"registDate", "1999-07-01T00:00:00+03:00"},
        {"deactivationFlag", "1"},
        {"deactivationFlagDescr", "ΕΝΕΡΓΟΣ"},
        {"postalAddress", "ΣΤΑΔΙΟΥ"},
        {"firmFlagDescr", "ΕΠΙΤΗΔΕΥΜΑΤΙΑΣ"},
        {"commerTitle", "ΔΕΛΤΑ"},
        {"postalAreaDescription", "ΑΘΗΝΑ"},
        {"INiFlagDescr", "ΟΧΙ"},
        {"postalZipCode", "10564"}},
       {{{"firmActDescr", "ΧΟΝΔΡΕΜΠΟΡΙΟ"},
         {"firmActKind", "1"},
         {"firmActKindDescr", "ΚΥΡΙΑ"},
         {"firmActCode", "46190000"}},
        {{"firmActDescr", "ΛΙΑΝΙΚΟ ΕΜΠΟΡΙΟ"},
         {"firmActKind", "2"},
         {"firmActKindDescr", "ΔΕΥΤΕΡΕΥΟΥΣΑ"}}},
       "123456789",
       {{"errorDescr", "Δεν βρέθηκε"}, {"errorCode", "RG_WS_PUBLIC_TAXPAYER_NOT_FOUND"}}},
      {"998877665",
       {{"afm", "998877665"},
        {"stopDate", "2018-06-30T00:00:00+03:00"},
        {"postalAddressNo", "112"},
        {"doyDescr", "Α' ΘΕΣΣΑΛΟΝΙΚΗΣ"},
        {"doy", "4211"},
        {"onomasia", "ΠΑΠΑΔΟΠΟΥΛΟΣ ΙΩΑΝΝΗΣ ΤΟΥ ΓΕΩΡΓΙΟΥ"},
        {"legalStatusDescr", "ΑΤΟΜΙΚΗ ΕΠΙΧΕΙΡΗΣΗ"},
        {"registDate", "2005-02-14T00:00:00+02:00"},
        {"deactivationFlag", "2"},
        {"deactivationFlagDescr", "ΑΠΕΝΕΡΓΟΣ"},
        {"postalAddress", "ΕΓΝΑΤΙΑΣ"},
        {"firmFlagDescr", "ΠΡΩΗΝ ΕΠΙΤΗΔΕΥΜΑΤΙΑΣ"},
        {"commerTitle", std::nullopt},
        {"postalAreaDescription", "ΘΕΣΣΑΛΟΝΙΚΗ"},
        {"INiFlagDescr", "ΟΧΙ"},
        {"postalZipCode", "54630"}},
       {{{"firmActDescr", "ΥΠΗΡΕΣΙΕΣ ΛΟΓΙΣΤΗΡΙΟΥ"},
         {"firmActKind", "1"},
         {"firmActKindDescr", "ΚΥΡΙΑ"},
         {"firmActCode", "69201001"}},
        {{"firmActDescr", "ΦΟΡΟΤΕΧΝΙΚΕΣ ΥΠΗΡΕΣΙΕΣ"},
         {"firmActKind", "2"},
         {"firmActKindDescr", "ΔΕΥΤΕΡΕΥΟΥΣΑ"},
         {"firmActCode", "69203000"}},
        {{"firmActDescr", "ΥΠΗΡΕΣΙΕΣ ΣΥΜΒΟΥΛΩΝ ΕΠΙΧΕΙΡΗΣΕΩΝ"},
         {"firmActKind", "2"},
         {"firmActKindDescr", "ΔΕΥΤΕΡΕΥΟΥΣΑ"},
         {"firmActCode", "70221000"}}},
       "200000017",
       {}},
      {"123456783",
       {{"afm", "123456783"},
        {"stopDate", std::nullopt},
        {"postalAddressNo", "27"},
        {"doyDescr", "ΗΡΑΚΛΕΙΟΥ"},
        {"doy", "8110"},
        {"onomasia", "ΚΡΗΤΙΚΑ ΕΔΕΣΜΑΤΑ <ΜΙΝΩΣ> & ΣΙΑ Ο.Ε."},
        {"legalStatusDescr", "ΟΕ"},
        {"registDate", "2012-10-01T00:00:00+03:00"},
        {"deactivationFlag", "1"},
        {"deactivationFlagDescr", "ΕΝΕΡΓΟΣ"},
        {"postalAddress", "ΛΕΩΦ. ΚΝΩΣΟΥ"},
        {"firmFlagDescr", "ΕΠΙΤΗΔΕΥΜΑΤΙΑΣ"},
        {"commerTitle", "ΜΙΝΩΣ"},
        {"postalAreaDescription", "ΗΡΑΚΛΕΙΟ ΚΡΗΤΗΣ"},
        {"INiFlagDescr", "ΝΑΙ"},
        {"postalZipCode", "71409"}},
       {{{"firmActDescr", "ΠΑΡΑΓΩΓΗ ΠΑΡΑΔΟΣΙΑΚΩΝ ΓΛΥΚΩΝ"},
         {"firmActKind", "1"},
         {"firmActKindDescr", "ΚΥΡΙΑ"},
         {"firmActCode", "10711100"}},
        {{"firmActDescr", "ΧΟΝΔΡΙΚΟ ΕΜΠΟΡΙΟ ΤΡΟΦΙΜΩΝ"},
         {"firmActKind", "2"},
         {"firmActKindDescr", "ΔΕΥΤΕΡΕΥΟΥΣΑ"},
         {"firmActCode", "46390000"}},
        {{"firmActDescr", "ΛΙΑΝΙΚΟ ΕΜΠΟΡΙΟ ΖΑΧΑΡΩΔΩΝ"},
         {"firmActKind", "2"},
         {"firmActKindDescr", "ΔΕΥΤΕΡΕΥΟΥΣΑ"},
         {"firmActCode", "47242000"}},
        {{"firmActDescr", "ΕΞΑΓΩΓΕΣ"},
         {"firmActKind", "3"},
         {"firmActKindDescr", "ΒΟΗΘΗΤΙΚΗ"},
         {"firmActCode", "46900000"}}},
       "200000042",
       {}},
  };
  return data;
}

constexpr std::string_view kEnvelopeNamespace = "http://schemas.xmlsoap.org/soap/envelope/";
constexpr std::string_view kNil =
    " xsi:nil=\"true\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"/>";

std::string Escape(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

void WriteFields(std::string& out, const Fields& fields) {
  for (const auto& [name, value] : fields) {
    out.append("<srvc:").append(name);
    if (!value) {
      out.append(kNil);
      continue;
    }
    out.append(">").append(Escape(*value)).append("</srvc:").append(name).append(">");
  }
}

std::string Envelope(const ServiceSettings& s, const Taxpayer* taxpayer, const Fields& error,
                     std::string_view callSeqId) {
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<env:Envelope xmlns:env=\"";
  out.append(kEnvelopeNamespace).append("\" xmlns:srvc=\"").append(Escape(s.serviceNamespace));
  out.append("\"><env:Header/><env:Body><srvc:rgWsPublicAfmMethodResponse>");
  if (taxpayer) {
    out.append("<RgWsPublicBasicRt_out>");
    WriteFields(out, taxpayer->basic);
    out.append("</RgWsPublicBasicRt_out><arrayOfRgWsPublicFirmActRt_out>");
    for (const Fields& activity : taxpayer->activities) {
      out.append("<srvc:RgWsPublicFirmActRtUser>");
      WriteFields(out, activity);
      out.append("</srvc:RgWsPublicFirmActRtUser>");
    }
    out.append("</arrayOfRgWsPublicFirmActRt_out>");
  } else {
    out.append("<RgWsPublicBasicRt_out/><arrayOfRgWsPublicFirmActRt_out/>");
  }
  out.append("<pCallSeqId_out>").append(callSeqId).append("</pCallSeqId_out><pErrorRec_out>");
  WriteFields(out, error.empty() ? Fields{{"errorDescr", std::nullopt}, {"errorCode", std::nullopt}}
                                 : error);
  out.append("</pErrorRec_out></srvc:rgWsPublicAfmMethodResponse></env:Body></env:Envelope>\n");
  return out;
}

ServiceAnswer Fault(std::string_view code, std::string_view text) {
  std::string body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<env:Envelope xmlns:env=\"";
  body.append(kEnvelopeNamespace).append("\"><env:Body><env:Fault><faultcode>env:").append(code);
  body.append("</faultcode><faultstring>").append(Escape(text));
  body.append("</faultstring></env:Fault></env:Body></env:Envelope>\n");
  return {500, "text/xml; charset=utf-8", std::move(body)};
}

std::string Trim(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return std::string(s);
}

std::string DecodeReferences(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::size_t semi = text[i] == '&' ? text.find(';', i) : std::string_view::npos;
    if (semi == std::string_view::npos || semi - i > 10) {
      out += text[i];
      continue;
    }
    const std::string_view ref = text.substr(i + 1, semi - i - 1);
    std::uint32_t cp = 0;
    if (ref == "amp")
      cp = '&';
    else if (ref == "lt")
      cp = '<';
    else if (ref == "gt")
      cp = '>';
    else if (ref == "quot")
      cp = '"';
    else if (ref == "apos")
      cp = '\'';
    else if (ref.size() > 1 && ref[0] == '#') {
      const bool hex = ref[1] == 'x' || ref[1] == 'X';
      for (char c : ref.substr(hex ? 2 : 1)) {
        const int d = (c >= '0' && c <= '9')        ? c - '0'
                      : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                    : -1;
        if (d < 0 || cp > 0x10FFFF) {
          cp = 0;
          break;
        }
        cp = cp * (hex ? 16 : 10) + static_cast<std::uint32_t>(d);
      }
    }
    if (cp == 0 || cp > 0x10FFFF) {
      out += text[i];
      continue;
    }
    AppendUtf8(out, cp);
    i = semi;
  }
  return out;
}

bool AllDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::optional<std::string> ElementText(std::string_view xml, std::string_view localName) {
  for (std::size_t at = xml.find('<'); at != std::string_view::npos; at = xml.find('<', at + 1)) {
    if (at + 1 >= xml.size() || xml[at + 1] == '/' || xml[at + 1] == '?' || xml[at + 1] == '!')
      continue;
    std::size_t end = at + 1;
    while (end < xml.size() &&
           std::string_view(" \t\r\n/>").find(xml[end]) == std::string_view::npos)
      ++end;
    std::string_view name = xml.substr(at + 1, end - at - 1);
    if (const std::size_t colon = name.rfind(':'); colon != std::string_view::npos)
      name.remove_prefix(colon + 1);
    if (name != localName) continue;
    // The end of the start tag, stepping over quoted attribute values.
    char quote = 0;
    while (end < xml.size() && (quote || xml[end] != '>')) {
      if (quote && xml[end] == quote)
        quote = 0;
      else if (!quote && (xml[end] == '"' || xml[end] == '\''))
        quote = xml[end];
      ++end;
    }
    if (end >= xml.size()) return std::nullopt;
    if (xml[end - 1] == '/') return std::string();
    const std::size_t close = xml.find('<', end + 1);
    if (close == std::string_view::npos) return std::nullopt;
    return DecodeReferences(xml.substr(end + 1, close - end - 1));
  }
  return std::nullopt;
}

ServiceAnswer AnswerRequest(const ServiceSettings& settings,
                            const std::optional<std::string>& soapAction, std::string_view body) {
  if (!ElementText(body, "rgWsPublicAfmMethod"))
    return Fault("Client", "The request holds no rgWsPublicAfmMethod call");
  const std::string expectedAction = "\"" + settings.serviceNamespace + "/rgWsPublicAfmMethod\"";
  if (soapAction && *soapAction != expectedAction)
    return Fault("Client", "Unknown SOAPAction " + *soapAction);
  const std::optional<std::string> user = ElementText(body, "Username");
  const std::optional<std::string> password = ElementText(body, "Password");
  if (!user || !password || *user != settings.userName || *password != settings.password)
    return Fault("Client", "Authentication failed: wrong user name or password");

  const std::string afm = Trim(ElementText(body, "afmCalledFor").value_or(""));
  if (afm == "000000000") return Fault("Server", "The registry is not available at the moment");
  ServiceAnswer answer{200, "text/xml; charset=utf-8", {}};
  if (afm.size() != 9 || !AllDigits(afm)) {
    answer.body = Envelope(
        settings, nullptr,
        {{"errorDescr", "Ο Α.Φ.Μ. δεν είναι έγκυρος"}, {"errorCode", "RG_WS_PUBLIC_WRONG_AFM"}},
        "200000001");
    return answer;
  }
  for (const Taxpayer& t : DataSet())
    if (afm == t.afm) {
      answer.body = Envelope(settings, &t, t.error, t.callSeqId);
      return answer;
    }
  answer.body = Envelope(settings, nullptr,
                         {{"errorDescr", "Δεν βρέθηκε φορολογούμενος με αυτόν τον Α.Φ.Μ."},
                          {"errorCode", "RG_WS_PUBLIC_TAXPAYER_NOT_FOUND"}},
                         "200000002");
  return answer;
}

}  // namespace delvan::registrymock
