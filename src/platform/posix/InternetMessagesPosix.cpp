// POSIX backend of FormatMessageW: the texts of the HTTP client's error
// codes and of the few system codes it reports, in words of our own.
#include <algorithm>
#include <array>

#include "platform/HttpClient.h"
#include "rtl/UnicodeString.h"

namespace delvan::platform {

namespace {

struct Message {
  std::uint32_t code;
  std::u16string_view text;
};

constexpr std::array kInternetMessages{
    Message{ERROR_INTERNET_OUT_OF_HANDLES, u"No more HTTP client handles can be opened"},
    Message{ERROR_INTERNET_TIMEOUT, u"The server did not answer within the time allowed"},
    Message{ERROR_INTERNET_INTERNAL_ERROR, u"The HTTP client met an internal error"},
    Message{ERROR_INTERNET_INVALID_URL, u"The address is not a valid URL"},
    Message{ERROR_INTERNET_UNRECOGNIZED_SCHEME, u"The address does not start with a known scheme"},
    Message{ERROR_INTERNET_NAME_NOT_RESOLVED, u"The server name could not be resolved"},
    Message{ERROR_INTERNET_INVALID_OPTION, u"The HTTP client does not know this option"},
    Message{ERROR_INTERNET_BAD_OPTION_LENGTH, u"The option value has the wrong size"},
    Message{ERROR_INTERNET_LOGIN_FAILURE, u"The server did not accept the user name or password"},
    Message{ERROR_INTERNET_INCORRECT_HANDLE_TYPE,
            u"The handle is not of the kind this operation needs"},
    Message{ERROR_INTERNET_INCORRECT_HANDLE_STATE,
            u"The request is not in a state that allows this operation"},
    Message{ERROR_INTERNET_CANNOT_CONNECT, u"No connection to the server could be made"},
    Message{ERROR_INTERNET_CONNECTION_ABORTED,
            u"The connection to the server ended before the answer was complete"},
    Message{ERROR_INTERNET_CONNECTION_RESET, u"The server reset the connection"},
    Message{ERROR_INTERNET_FORCE_RETRY, u"The request has to be sent again"},
    Message{ERROR_INTERNET_SEC_CERT_DATE_INVALID,
            u"The server certificate has expired or is not yet valid"},
    Message{ERROR_INTERNET_SEC_CERT_CN_INVALID,
            u"The server certificate was issued for another host name"},
    Message{ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED, u"The server asks for a client certificate"},
    Message{ERROR_INTERNET_INVALID_CA,
            u"The server certificate was issued by an authority that is not trusted"},
    Message{ERROR_INTERNET_CLIENT_AUTH_NOT_SETUP,
            u"The client certificate cannot be used: its private key is missing"},
    Message{ERROR_INTERNET_SEC_CERT_REV_FAILED,
            u"Whether the server certificate was revoked could not be checked"},
    Message{ERROR_HTTP_HEADER_NOT_FOUND, u"The answer has no header of the kind asked for"},
    Message{ERROR_HTTP_INVALID_SERVER_RESPONSE, u"The server's answer is not valid HTTP"},
    Message{ERROR_HTTP_INVALID_HEADER, u"The header line is not valid"},
    Message{ERROR_HTTP_INVALID_QUERY_REQUEST, u"This information cannot be read from the answer"},
    Message{ERROR_INTERNET_SECURITY_CHANNEL_ERROR,
            u"The secure connection to the server could not be set up"},
    Message{ERROR_INTERNET_PROXY_SERVER_UNREACHABLE, u"The proxy server could not be reached"},
    Message{ERROR_INTERNET_SEC_INVALID_CERT, u"The server certificate is not valid"},
    Message{ERROR_INTERNET_SEC_CERT_REVOKED, u"The server certificate has been revoked"},
    Message{ERROR_HTTP_RESPONSE_TOO_LARGE,
            u"The server's answer is larger than the 16 MiB this client accepts"},
};

constexpr std::array kSystemMessages{
    Message{ERROR_INVALID_HANDLE, u"The handle is not valid"},
    Message{ERROR_NOT_ENOUGH_MEMORY, u"There is not enough memory for this operation"},
    Message{ERROR_INVALID_PARAMETER, u"A parameter is not valid"},
    Message{ERROR_CALL_NOT_IMPLEMENTED, u"This operation is not available on this platform"},
    Message{ERROR_INSUFFICIENT_BUFFER, u"The buffer is too small for the value"},
    Message{ERROR_CANCELLED, u"The operation was cancelled by the user"},
};

template <std::size_t N>
const Message* Find(const std::array<Message, N>& table, std::uint32_t code) {
  auto it =
      std::find_if(table.begin(), table.end(), [&](const Message& m) { return m.code == code; });
  return it == table.end() ? nullptr : &*it;
}

}  // namespace

UnicodeString FormatMessageW(std::uint32_t flags, std::u16string_view module,
                             std::uint32_t messageId, std::uint32_t languageId,
                             std::uint32_t bufferChars) {
  if (languageId != 0) return {};
  const Message* found = nullptr;
  if ((flags & FORMAT_MESSAGE_FROM_HMODULE) && rtl::SameTextAscii(module, u"wininet.dll"))
    found = Find(kInternetMessages, messageId);
  if (!found && (flags & FORMAT_MESSAGE_FROM_SYSTEM)) found = Find(kSystemMessages, messageId);
  if (!found || found->text.size() + 1 > bufferChars) return {};
  return UnicodeString(found->text);
}

}  // namespace delvan::platform
