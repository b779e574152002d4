// What the mock registry service answers: rgWsPublicAfmMethod over a small
// invented data set, with the credentials checked and SOAP faults for
// requests it refuses. Pure functions of the request, shared by the HTTP
// server and the raw answers of the misbehaving modes.
//
// The data set (tax registration number: what comes back):
//   094019245  the company of tests/fixtures/service/typical_response.xml,
//              answered byte for byte as that file (two activities)
//   998877665  a sole trader, deactivated: stop date and registration
//              date, three activities
//   123456783  a company with four activities and no stop date
//   000000000  a SOAP fault of the server (status 500)
//   any other nine digits: an error record "taxpayer not found"
//   anything else: an error record "wrong tax registration number"
// A user name or password other than the configured ones, a missing
// operation or a wrong SOAPAction is answered with a client fault (500).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace delvan::registrymock {

struct ServiceSettings {
  std::string serviceNamespace;
  std::string userName;  // compared exactly: the client sends it upper-cased
  std::string password;
};

struct ServiceAnswer {
  int status = 200;
  std::string contentType;
  std::string body;
};

// soapAction is the header's value as received, or nullopt without one.
ServiceAnswer AnswerRequest(const ServiceSettings& settings,
                            const std::optional<std::string>& soapAction, std::string_view body);

// The text of the first element with this local name (any prefix), with the
// XML character references decoded; nullopt when there is none. A small
// tolerant reading, enough for the requests of our own client.
std::optional<std::string> ElementText(std::string_view xml, std::string_view localName);

// Appends the code point cp to out in UTF-8.
void AppendUtf8(std::string& out, std::uint32_t cp);

}  // namespace delvan::registrymock
