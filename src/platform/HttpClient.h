// HTTP client services of the platform, shaped after WinINet: a root handle
// (user agent, proxy choice), connection handles (one server and its
// kept-alive connections) and request handles (one HTTP exchange each), and
// the calls the web node makes on them. One backend per platform implements
// this header; a Windows backend forwards each call to the WinINet function
// of the same name.
//
// Every call is blocking and runs on the calling thread. A call that fails
// returns false (or a null handle) and leaves an error code for GetLastError,
// numbered as the WinINet error it stands for; FormatMessageW gives its text.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "rtl/UnicodeString.h"

namespace delvan::platform {

// ------------------------------------------------------------------ handles

// An open root, connection or request handle. Defined by the backend.
struct InternetHandle;
using HINTERNET = InternetHandle*;
using INTERNET_PORT = std::uint16_t;
using INTERNET_SCHEME = std::int32_t;

// ------------------------------------------------------------------ errors

inline constexpr std::uint32_t ERROR_SUCCESS = 0;
inline constexpr std::uint32_t ERROR_INVALID_HANDLE = 6;
inline constexpr std::uint32_t ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr std::uint32_t ERROR_INVALID_PARAMETER = 87;
inline constexpr std::uint32_t ERROR_CALL_NOT_IMPLEMENTED = 120;
inline constexpr std::uint32_t ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr std::uint32_t ERROR_CANCELLED = 1223;

inline constexpr std::uint32_t ERROR_INTERNET_OUT_OF_HANDLES = 12001;
inline constexpr std::uint32_t ERROR_INTERNET_TIMEOUT = 12002;
inline constexpr std::uint32_t ERROR_INTERNET_INTERNAL_ERROR = 12004;
inline constexpr std::uint32_t ERROR_INTERNET_INVALID_URL = 12005;
inline constexpr std::uint32_t ERROR_INTERNET_UNRECOGNIZED_SCHEME = 12006;
inline constexpr std::uint32_t ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
inline constexpr std::uint32_t ERROR_INTERNET_INVALID_OPTION = 12009;
inline constexpr std::uint32_t ERROR_INTERNET_BAD_OPTION_LENGTH = 12010;
inline constexpr std::uint32_t ERROR_INTERNET_LOGIN_FAILURE = 12015;
inline constexpr std::uint32_t ERROR_INTERNET_INCORRECT_HANDLE_TYPE = 12018;
inline constexpr std::uint32_t ERROR_INTERNET_INCORRECT_HANDLE_STATE = 12019;
inline constexpr std::uint32_t ERROR_INTERNET_CANNOT_CONNECT = 12029;
inline constexpr std::uint32_t ERROR_INTERNET_CONNECTION_ABORTED = 12030;
inline constexpr std::uint32_t ERROR_INTERNET_CONNECTION_RESET = 12031;
inline constexpr std::uint32_t ERROR_INTERNET_FORCE_RETRY = 12032;
inline constexpr std::uint32_t ERROR_INTERNET_SEC_CERT_DATE_INVALID = 12037;
inline constexpr std::uint32_t ERROR_INTERNET_SEC_CERT_CN_INVALID = 12038;
inline constexpr std::uint32_t ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED = 12044;
inline constexpr std::uint32_t ERROR_INTERNET_INVALID_CA = 12045;
inline constexpr std::uint32_t ERROR_INTERNET_CLIENT_AUTH_NOT_SETUP = 12046;
inline constexpr std::uint32_t ERROR_INTERNET_SEC_CERT_REV_FAILED = 12057;
inline constexpr std::uint32_t ERROR_HTTP_HEADER_NOT_FOUND = 12150;
inline constexpr std::uint32_t ERROR_HTTP_INVALID_SERVER_RESPONSE = 12152;
inline constexpr std::uint32_t ERROR_HTTP_INVALID_HEADER = 12153;
inline constexpr std::uint32_t ERROR_HTTP_INVALID_QUERY_REQUEST = 12154;
inline constexpr std::uint32_t ERROR_HTTP_HEADER_ALREADY_EXISTS = 12155;
inline constexpr std::uint32_t ERROR_INTERNET_SECURITY_CHANNEL_ERROR = 12157;
inline constexpr std::uint32_t ERROR_INTERNET_PROXY_SERVER_UNREACHABLE = 12165;
inline constexpr std::uint32_t ERROR_INTERNET_SEC_INVALID_CERT = 12169;
inline constexpr std::uint32_t ERROR_INTERNET_SEC_CERT_REVOKED = 12170;

// A response body longer than kMaxResponseBodySize. The code carries the
// customer bit (29) of the Windows error space, so it meets no system code.
inline constexpr std::uint32_t ERROR_HTTP_RESPONSE_TOO_LARGE = 0x20000000u | 12200u;

// The largest response body a request reads; a longer one fails with
// ERROR_HTTP_RESPONSE_TOO_LARGE instead of filling memory.
inline constexpr std::uint64_t kMaxResponseBodySize = 16u * 1024u * 1024u;

// The calling thread's last error code, as WinINet's callers read it.
std::uint32_t GetLastError();
void SetLastError(std::uint32_t code);

// ------------------------------------------------------------------ constants

inline constexpr INTERNET_SCHEME INTERNET_SCHEME_UNKNOWN = -1;
inline constexpr INTERNET_SCHEME INTERNET_SCHEME_DEFAULT = 0;
inline constexpr INTERNET_SCHEME INTERNET_SCHEME_FTP = 1;
inline constexpr INTERNET_SCHEME INTERNET_SCHEME_GOPHER = 2;
inline constexpr INTERNET_SCHEME INTERNET_SCHEME_HTTP = 3;
inline constexpr INTERNET_SCHEME INTERNET_SCHEME_HTTPS = 4;
inline constexpr INTERNET_SCHEME INTERNET_SCHEME_FILE = 5;
inline constexpr INTERNET_SCHEME INTERNET_SCHEME_NEWS = 6;
inline constexpr INTERNET_SCHEME INTERNET_SCHEME_MAILTO = 7;
inline constexpr INTERNET_SCHEME INTERNET_SCHEME_SOCKS = 8;
inline constexpr INTERNET_SCHEME INTERNET_SCHEME_JAVASCRIPT = 9;
inline constexpr INTERNET_SCHEME INTERNET_SCHEME_VBSCRIPT = 10;
inline constexpr INTERNET_SCHEME INTERNET_SCHEME_RES = 11;

inline constexpr INTERNET_PORT INTERNET_INVALID_PORT_NUMBER = 0;
inline constexpr INTERNET_PORT INTERNET_DEFAULT_FTP_PORT = 21;
inline constexpr INTERNET_PORT INTERNET_DEFAULT_HTTP_PORT = 80;
inline constexpr INTERNET_PORT INTERNET_DEFAULT_HTTPS_PORT = 443;

// Access types of InternetOpenW.
inline constexpr std::uint32_t INTERNET_OPEN_TYPE_PRECONFIG = 0;
inline constexpr std::uint32_t INTERNET_OPEN_TYPE_DIRECT = 1;
inline constexpr std::uint32_t INTERNET_OPEN_TYPE_PROXY = 3;
inline constexpr std::uint32_t INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY = 4;

// Services of InternetConnectW.
inline constexpr std::uint32_t INTERNET_SERVICE_HTTP = 3;

// Request flags of HttpOpenRequestW.
inline constexpr std::uint32_t INTERNET_FLAG_RELOAD = 0x80000000u;
inline constexpr std::uint32_t INTERNET_FLAG_NO_CACHE_WRITE = 0x04000000u;
inline constexpr std::uint32_t INTERNET_FLAG_SECURE = 0x00800000u;
inline constexpr std::uint32_t INTERNET_FLAG_KEEP_CONNECTION = 0x00400000u;
inline constexpr std::uint32_t INTERNET_FLAG_NO_AUTO_REDIRECT = 0x00200000u;
inline constexpr std::uint32_t INTERNET_FLAG_NO_COOKIES = 0x00080000u;
inline constexpr std::uint32_t INTERNET_FLAG_IGNORE_CERT_DATE_INVALID = 0x00002000u;
inline constexpr std::uint32_t INTERNET_FLAG_IGNORE_CERT_CN_INVALID = 0x00001000u;
inline constexpr std::uint32_t INTERNET_FLAG_NO_UI = 0x00000200u;
inline constexpr std::uint32_t INTERNET_FLAG_PRAGMA_NOCACHE = 0x00000100u;

// Security flags (INTERNET_OPTION_SECURITY_FLAGS). Only the ignore flags
// can be set; SECURITY_FLAG_SECURE is reported for a request over TLS.
// Certificates are checked (chain, host name, dates) unless a flag names the
// problem. This backend does not check revocation, so IGNORE_REVOCATION has
// nothing to ignore.
inline constexpr std::uint32_t SECURITY_FLAG_SECURE = 0x00000001u;
inline constexpr std::uint32_t SECURITY_FLAG_IGNORE_REVOCATION = 0x00000080u;
inline constexpr std::uint32_t SECURITY_FLAG_IGNORE_UNKNOWN_CA = 0x00000100u;
inline constexpr std::uint32_t SECURITY_FLAG_IGNORE_WRONG_USAGE = 0x00000200u;
inline constexpr std::uint32_t SECURITY_FLAG_IGNORE_CERT_CN_INVALID = 0x00001000u;
inline constexpr std::uint32_t SECURITY_FLAG_IGNORE_CERT_DATE_INVALID = 0x00002000u;

// Options of InternetSetOptionW / InternetQueryOptionW. The time-outs are
// 4-byte millisecond counts, valid on every handle and inherited by the
// handles opened under it; 0 keeps the backend's default.
inline constexpr std::uint32_t INTERNET_OPTION_CONNECT_TIMEOUT = 2;
inline constexpr std::uint32_t INTERNET_OPTION_SEND_TIMEOUT = 5;
inline constexpr std::uint32_t INTERNET_OPTION_RECEIVE_TIMEOUT = 6;
inline constexpr std::uint32_t INTERNET_OPTION_DATA_SEND_TIMEOUT = 7;
inline constexpr std::uint32_t INTERNET_OPTION_DATA_RECEIVE_TIMEOUT = 8;
inline constexpr std::uint32_t INTERNET_OPTION_HANDLE_TYPE = 9;
inline constexpr std::uint32_t INTERNET_OPTION_SECURITY_FLAGS = 31;
// The backend chooses a client certificate itself. The 4-byte value is an
// index among the personal certificates with a private key; 0 is the first.
inline constexpr std::uint32_t INTERNET_OPTION_SECURITY_SELECT_CLIENT_CERT = 47;
// The buffer is the certificate context (PCCERT_CONTEXT of CertStore.h);
// the request keeps its own reference to it.
inline constexpr std::uint32_t INTERNET_OPTION_CLIENT_CERT_CONTEXT = 84;

// Values of INTERNET_OPTION_HANDLE_TYPE.
inline constexpr std::uint32_t INTERNET_HANDLE_TYPE_INTERNET = 1;
inline constexpr std::uint32_t INTERNET_HANDLE_TYPE_CONNECT_HTTP = 3;
inline constexpr std::uint32_t INTERNET_HANDLE_TYPE_HTTP_REQUEST = 13;

// Modifiers of HttpAddRequestHeadersW.
inline constexpr std::uint32_t HTTP_ADDREQ_FLAG_ADD_IF_NEW = 0x10000000u;
inline constexpr std::uint32_t HTTP_ADDREQ_FLAG_ADD = 0x20000000u;
inline constexpr std::uint32_t HTTP_ADDREQ_FLAG_REPLACE = 0x80000000u;

// Information levels of HttpQueryInfoW.
inline constexpr std::uint32_t HTTP_QUERY_CONTENT_TYPE = 1;
inline constexpr std::uint32_t HTTP_QUERY_CONTENT_LENGTH = 5;
inline constexpr std::uint32_t HTTP_QUERY_VERSION = 18;
inline constexpr std::uint32_t HTTP_QUERY_STATUS_CODE = 19;
inline constexpr std::uint32_t HTTP_QUERY_STATUS_TEXT = 20;
inline constexpr std::uint32_t HTTP_QUERY_RAW_HEADERS_CRLF = 22;
inline constexpr std::uint32_t HTTP_QUERY_FLAG_NUMBER = 0x20000000u;

// Flags of FormatMessageW.
inline constexpr std::uint32_t FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200u;
inline constexpr std::uint32_t FORMAT_MESSAGE_FROM_HMODULE = 0x00000800u;
inline constexpr std::uint32_t FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000u;

// Flags of InternetErrorDlg.
inline constexpr std::uint32_t FLAGS_ERROR_UI_FILTER_FOR_ERRORS = 0x01u;
inline constexpr std::uint32_t FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS = 0x02u;
inline constexpr std::uint32_t FLAGS_ERROR_UI_FLAGS_GENERATE_DATA = 0x04u;

// The defaults a time-out of 0 stands for, in milliseconds. Sending and
// receiving are bounded per wait: the time allowed without any progress.
inline constexpr std::uint32_t kDefaultConnectTimeoutMs = 60'000;
inline constexpr std::uint32_t kDefaultSendTimeoutMs = 30'000;
inline constexpr std::uint32_t kDefaultReceiveTimeoutMs = 30'000;

// How long one exchange may take in all, from the send of its request to the
// end of the response body, however steadily bytes arrive: the receive
// time-out counts from the last bytes received, so a server that drips just
// faster than that would hold a request until the body limit. The connect
// time-out plus four receive time-outs, with at least 10 s after connecting
// (3 minutes with the defaults).
constexpr std::uint64_t ResponseDeadlineMs(std::uint32_t connectTimeoutMs,
                                           std::uint32_t receiveTimeoutMs) {
  const std::uint64_t receiving = 4ull * receiveTimeoutMs;
  return connectTimeoutMs + (receiving > 10'000 ? receiving : 10'000);
}

// ------------------------------------------------------------------ records

// Parts of a URL, as InternetCrackUrlW fills them. A part is asked for by a
// non-zero length with a null pointer; the call then points it into the URL
// text and sets its length. A part not asked for (length 0) is left alone.
struct URL_COMPONENTSW {
  std::uint32_t dwStructSize = sizeof(URL_COMPONENTSW);
  const char16_t* lpszScheme = nullptr;
  std::uint32_t dwSchemeLength = 0;
  INTERNET_SCHEME nScheme = INTERNET_SCHEME_DEFAULT;
  const char16_t* lpszHostName = nullptr;
  std::uint32_t dwHostNameLength = 0;
  INTERNET_PORT nPort = 0;
  const char16_t* lpszUserName = nullptr;
  std::uint32_t dwUserNameLength = 0;
  const char16_t* lpszPassword = nullptr;
  std::uint32_t dwPasswordLength = 0;
  const char16_t* lpszUrlPath = nullptr;
  std::uint32_t dwUrlPathLength = 0;
  const char16_t* lpszExtraInfo = nullptr;
  std::uint32_t dwExtraInfoLength = 0;
};

// Describes a request body of known total length for HttpSendRequestExW.
struct INTERNET_BUFFERSW {
  std::uint32_t dwStructSize = sizeof(INTERNET_BUFFERSW);
  INTERNET_BUFFERSW* Next = nullptr;
  const char16_t* lpcszHeader = nullptr;
  std::uint32_t dwHeadersLength = 0;
  std::uint32_t dwHeadersTotal = 0;
  const void* lpvBuffer = nullptr;
  std::uint32_t dwBufferLength = 0;
  std::uint32_t dwBufferTotal = 0;  // the body's total length
  std::uint32_t dwOffsetLow = 0;
  std::uint32_t dwOffsetHigh = 0;
};

// ------------------------------------------------------------------ calls

// 0 when the machine may go online. reserved must be 0.
std::uint32_t InternetAttemptConnect(std::uint32_t reserved);

// Opens a root handle carrying the user agent and the proxy choice: with
// INTERNET_OPEN_TYPE_PROXY exactly the proxies of the list (entries
// "host:port" or "scheme=host:port", separated by spaces or semicolons) for
// every host outside the bypass list (host patterns with "*", "<local>" for
// names without a dot). Null on failure.
HINTERNET InternetOpenW(std::u16string_view agent, std::uint32_t accessType,
                        std::u16string_view proxy, std::u16string_view proxyBypass,
                        std::uint32_t flags);

// Opens a connection handle under root for one server. It holds the kept-
// alive connections of the requests opened under it and closes them when it
// is closed; nothing goes on the network yet. An empty user name means no
// HTTP authentication. Null on failure.
HINTERNET InternetConnectW(HINTERNET root, std::u16string_view serverName, INTERNET_PORT serverPort,
                           std::u16string_view userName, std::u16string_view password,
                           std::uint32_t service, std::uint32_t flags, std::uintptr_t context);

// Opens a request handle under connect. An empty version means HTTP/1.1;
// acceptTypes is a null-terminated list or null (no Accept header). Null
// on failure.
HINTERNET HttpOpenRequestW(HINTERNET connect, std::u16string_view verb,
                           std::u16string_view objectName, std::u16string_view version,
                           std::u16string_view referrer, const char16_t* const* acceptTypes,
                           std::uint32_t flags, std::uintptr_t context);

bool InternetSetOptionW(HINTERNET handle, std::uint32_t option, const void* buffer,
                        std::uint32_t bufferLength);
// On entry bufferLength holds the buffer's size in bytes; on return the
// size of the value (or, with ERROR_INSUFFICIENT_BUFFER, the size needed).
bool InternetQueryOptionW(HINTERNET handle, std::uint32_t option, void* buffer,
                          std::uint32_t& bufferLength);

// Adds header lines ("Name: value", several separated by CR LF) to the
// request, in order, as the modifiers say.
bool HttpAddRequestHeadersW(HINTERNET request, std::u16string_view headers,
                            std::uint32_t modifiers);

// Sends the request with the whole body and waits for the response headers.
// headers are extra lines for this send only. The body is read during the
// call only. May be called again on the same request to send it anew.
bool HttpSendRequestW(HINTERNET request, std::u16string_view headers, const void* optional,
                      std::uint32_t optionalLength);

// Starts a request whose body (buffersIn->dwBufferTotal bytes) follows by
// InternetWriteFile; HttpEndRequestW then waits for the response headers.
bool HttpSendRequestExW(HINTERNET request, const INTERNET_BUFFERSW* buffersIn,
                        INTERNET_BUFFERSW* buffersOut, std::uint32_t flags, std::uintptr_t context);
bool InternetWriteFile(HINTERNET request, const void* buffer, std::uint32_t bytesToWrite,
                       std::uint32_t& bytesWritten);
bool HttpEndRequestW(HINTERNET request, INTERNET_BUFFERSW* buffersOut, std::uint32_t flags,
                     std::uintptr_t context);

// Reads response information: with HTTP_QUERY_FLAG_NUMBER a 4-byte number,
// otherwise UTF-16 text with a terminating NUL. bufferLength is in bytes as
// for InternetQueryOptionW. index, when given, selects among repeated
// headers and is advanced. A missing header fails with
// ERROR_HTTP_HEADER_NOT_FOUND.
bool HttpQueryInfoW(HINTERNET request, std::uint32_t infoLevel, void* buffer,
                    std::uint32_t& bufferLength, std::uint32_t* index);

// Waits until body bytes are ready and tells how many; 0 at the end.
bool InternetQueryDataAvailable(HINTERNET request, std::uint32_t& bytesAvailable,
                                std::uint32_t flags, std::uintptr_t context);
// Reads body bytes, waiting for at least one; bytesRead is 0 at the end.
bool InternetReadFile(HINTERNET request, void* buffer, std::uint32_t bytesToRead,
                      std::uint32_t& bytesRead);

// Releases a root, connection or request handle. Handles opened under it
// stay usable until they are closed themselves.
bool InternetCloseHandle(HINTERNET handle);

// Takes a URL apart (urlLength 0: the text is NUL-terminated). flags must be
// 0. An unknown scheme gives INTERNET_SCHEME_UNKNOWN; a text without a
// scheme fails with ERROR_INTERNET_UNRECOGNIZED_SCHEME. A port not written
// in the URL is the scheme's default. Without a separate extra-information
// part the path keeps the query and the fragment.
bool InternetCrackUrlW(const char16_t* url, std::uint32_t urlLength, std::uint32_t flags,
                       URL_COMPONENTSW& components);

// Shows the error of a request to the user. A backend without such a
// dialog returns ERROR_CALL_NOT_IMPLEMENTED, and the caller reports the
// error itself. parent null means the desktop.
std::uint32_t InternetErrorDlg(void* parent, HINTERNET request, std::uint32_t error,
                               std::uint32_t flags, void** data);

// The text of a message code: from the module's message table
// (FORMAT_MESSAGE_FROM_HMODULE, module "wininet.dll" for the codes above)
// or the system's. Empty when the code is unknown or its text does not fit
// in bufferChars characters with a terminating NUL.
UnicodeString FormatMessageW(std::uint32_t flags, std::u16string_view module,
                             std::uint32_t messageId, std::uint32_t languageId,
                             std::uint32_t bufferChars);

// ------------------------------------------------------------------ ownership

// Closes a handle when it goes out of scope.
struct InternetHandleCloser {
  void operator()(HINTERNET handle) const noexcept { InternetCloseHandle(handle); }
};
using UniqueInternetHandle = std::unique_ptr<InternetHandle, InternetHandleCloser>;

}  // namespace delvan::platform
