// Windows backend of the HTTP client: each call forwards to the WinINet
// function of the same name with the arguments as given. Our handle wraps
// WinINet's, so that a request can count the body bytes it has read and
// refuse an answer past kMaxResponseBodySize, as every backend does.
#include <climits>
#include <string>

#include "platform/HttpClient.h"

// The system headers come after the platform headers: their macros would
// otherwise replace the platform layer's constants of the same names.
// clang-format off
#include <windows.h>
#include <wininet.h>
// clang-format on

namespace delvan::platform {

struct InternetHandle {
  ::HINTERNET native = nullptr;
  std::uint64_t bodyRead = 0;  // response body bytes read since the last send
};

namespace {

HINTERNET Wrap(::HINTERNET native) {
  if (!native) return nullptr;
  DWORD error = ::GetLastError();
  auto* handle = new InternetHandle{native};
  ::SetLastError(error);
  return handle;
}

::HINTERNET Native(HINTERNET handle) { return handle ? handle->native : nullptr; }

// A NUL-terminated copy, for calls that take a plain wide string.
std::wstring Z(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

// Null for an empty text, where the call's "absent" means the default.
const wchar_t* OrNull(const std::wstring& text) { return text.empty() ? nullptr : text.c_str(); }

bool Fail(std::uint32_t code) {
  ::SetLastError(code);
  return false;
}

void ResetBody(HINTERNET request) {
  if (request) request->bodyRead = 0;
}

}  // namespace

std::uint32_t GetLastError() { return ::GetLastError(); }
void SetLastError(std::uint32_t code) { ::SetLastError(code); }

std::uint32_t InternetAttemptConnect(std::uint32_t reserved) {
  return ::InternetAttemptConnect(reserved);
}

HINTERNET InternetOpenW(std::u16string_view agent, std::uint32_t accessType,
                        std::u16string_view proxy, std::u16string_view proxyBypass,
                        std::uint32_t flags) {
  // Empty settings go as empty strings, not as absent values.
  const std::wstring a = Z(agent), p = Z(proxy), b = Z(proxyBypass);
  return Wrap(::InternetOpenW(a.c_str(), accessType, p.c_str(), b.c_str(), flags));
}

HINTERNET InternetConnectW(HINTERNET root, std::u16string_view serverName, INTERNET_PORT serverPort,
                           std::u16string_view userName, std::u16string_view password,
                           std::uint32_t service, std::uint32_t flags, std::uintptr_t context) {
  const std::wstring host = Z(serverName), user = Z(userName), pass = Z(password);
  return Wrap(::InternetConnectW(Native(root), host.c_str(), serverPort, user.c_str(), pass.c_str(),
                                 service, flags, context));
}

HINTERNET HttpOpenRequestW(HINTERNET connect, std::u16string_view verb,
                           std::u16string_view objectName, std::u16string_view version,
                           std::u16string_view referrer, const char16_t* const* acceptTypes,
                           std::uint32_t flags, std::uintptr_t context) {
  const std::wstring v = Z(verb), object = Z(objectName), ver = Z(version), ref = Z(referrer);
  return Wrap(::HttpOpenRequestW(
      Native(connect), v.c_str(), object.c_str(), OrNull(ver), OrNull(ref),
      const_cast<LPCWSTR*>(reinterpret_cast<const LPCWSTR*>(acceptTypes)), flags, context));
}

bool InternetSetOptionW(HINTERNET handle, std::uint32_t option, const void* buffer,
                        std::uint32_t bufferLength) {
  // The client certificate option takes the certificate context record
  // itself, which is what our certificate handle points at.
  return ::InternetSetOptionW(Native(handle), option, const_cast<void*>(buffer), bufferLength) !=
         FALSE;
}

bool InternetQueryOptionW(HINTERNET handle, std::uint32_t option, void* buffer,
                          std::uint32_t& bufferLength) {
  DWORD length = bufferLength;
  const BOOL ok = ::InternetQueryOptionW(Native(handle), option, buffer, &length);
  bufferLength = length;
  return ok != FALSE;
}

bool HttpAddRequestHeadersW(HINTERNET request, std::u16string_view headers,
                            std::uint32_t modifiers) {
  if (headers.size() > INT_MAX) return Fail(ERROR_INVALID_PARAMETER);
  const std::wstring lines = Z(headers);
  return ::HttpAddRequestHeadersW(Native(request), lines.c_str(), static_cast<DWORD>(lines.size()),
                                  modifiers) != FALSE;
}

bool HttpSendRequestW(HINTERNET request, std::u16string_view headers, const void* optional,
                      std::uint32_t optionalLength) {
  ResetBody(request);
  const std::wstring lines = Z(headers);
  return ::HttpSendRequestW(Native(request), OrNull(lines), static_cast<DWORD>(lines.size()),
                            const_cast<void*>(optional), optionalLength) != FALSE;
}

bool HttpSendRequestExW(HINTERNET request, const INTERNET_BUFFERSW* buffersIn,
                        INTERNET_BUFFERSW* buffersOut, std::uint32_t flags,
                        std::uintptr_t context) {
  ResetBody(request);
  if (buffersOut) return Fail(ERROR_INVALID_PARAMETER);  // nobody asks for one
  ::INTERNET_BUFFERSW in{};
  ::INTERNET_BUFFERSW* inPtr = nullptr;
  if (buffersIn) {
    // Our record has the platform's layout; it is copied field by field
    // all the same, so that no cast depends on it.
    in.dwStructSize = sizeof in;
    in.lpcszHeader = reinterpret_cast<LPCWSTR>(buffersIn->lpcszHeader);
    in.dwHeadersLength = buffersIn->dwHeadersLength;
    in.dwHeadersTotal = buffersIn->dwHeadersTotal;
    in.lpvBuffer = const_cast<void*>(buffersIn->lpvBuffer);
    in.dwBufferLength = buffersIn->dwBufferLength;
    in.dwBufferTotal = buffersIn->dwBufferTotal;
    in.dwOffsetLow = buffersIn->dwOffsetLow;
    in.dwOffsetHigh = buffersIn->dwOffsetHigh;
    inPtr = &in;
  }
  return ::HttpSendRequestExW(Native(request), inPtr, nullptr, flags, context) != FALSE;
}

bool InternetWriteFile(HINTERNET request, const void* buffer, std::uint32_t bytesToWrite,
                       std::uint32_t& bytesWritten) {
  DWORD written = 0;
  const BOOL ok = ::InternetWriteFile(Native(request), buffer, bytesToWrite, &written);
  bytesWritten = written;
  return ok != FALSE;
}

bool HttpEndRequestW(HINTERNET request, INTERNET_BUFFERSW* buffersOut, std::uint32_t flags,
                     std::uintptr_t context) {
  if (buffersOut) return Fail(ERROR_INVALID_PARAMETER);  // nobody asks for one
  return ::HttpEndRequestW(Native(request), nullptr, flags, context) != FALSE;
}

bool HttpQueryInfoW(HINTERNET request, std::uint32_t infoLevel, void* buffer,
                    std::uint32_t& bufferLength, std::uint32_t* index) {
  DWORD length = bufferLength;
  DWORD at = index ? *index : 0;
  const BOOL ok =
      ::HttpQueryInfoW(Native(request), infoLevel, buffer, &length, index ? &at : nullptr);
  bufferLength = length;
  if (index) *index = at;
  return ok != FALSE;
}

bool InternetQueryDataAvailable(HINTERNET request, std::uint32_t& bytesAvailable,
                                std::uint32_t flags, std::uintptr_t context) {
  DWORD available = 0;
  const BOOL ok = ::InternetQueryDataAvailable(Native(request), &available, flags, context);
  bytesAvailable = available;
  if (ok && request && request->bodyRead + available > kMaxResponseBodySize)
    return Fail(ERROR_HTTP_RESPONSE_TOO_LARGE);
  return ok != FALSE;
}

bool InternetReadFile(HINTERNET request, void* buffer, std::uint32_t bytesToRead,
                      std::uint32_t& bytesRead) {
  DWORD read = 0;
  const BOOL ok = ::InternetReadFile(Native(request), buffer, bytesToRead, &read);
  bytesRead = read;
  if (!ok) return false;
  if (request) {
    request->bodyRead += read;
    if (request->bodyRead > kMaxResponseBodySize) return Fail(ERROR_HTTP_RESPONSE_TOO_LARGE);
  }
  return true;
}

bool InternetCloseHandle(HINTERNET handle) {
  if (!handle) return Fail(ERROR_INVALID_HANDLE);
  const BOOL ok = ::InternetCloseHandle(handle->native);
  const DWORD error = ::GetLastError();
  delete handle;
  ::SetLastError(error);
  return ok != FALSE;
}

bool InternetCrackUrlW(const char16_t* url, std::uint32_t urlLength, std::uint32_t flags,
                       URL_COMPONENTSW& components) {
  // Field by field into the platform's record, which is the same size (60
  // bytes on 32-bit Windows); the parts asked for are those with a length.
  ::URL_COMPONENTSW parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwSchemeLength = components.dwSchemeLength;
  parts.dwHostNameLength = components.dwHostNameLength;
  parts.dwUserNameLength = components.dwUserNameLength;
  parts.dwPasswordLength = components.dwPasswordLength;
  parts.dwUrlPathLength = components.dwUrlPathLength;
  parts.dwExtraInfoLength = components.dwExtraInfoLength;
  const BOOL ok = ::InternetCrackUrlW(reinterpret_cast<LPCWSTR>(url), urlLength, flags, &parts);
  const DWORD error = ::GetLastError();
  auto back = [](const wchar_t* p) { return reinterpret_cast<const char16_t*>(p); };
  components.nScheme = parts.nScheme;
  components.nPort = parts.nPort;
  if (components.dwSchemeLength) {
    components.lpszScheme = back(parts.lpszScheme);
    components.dwSchemeLength = parts.dwSchemeLength;
  }
  if (components.dwHostNameLength) {
    components.lpszHostName = back(parts.lpszHostName);
    components.dwHostNameLength = parts.dwHostNameLength;
  }
  if (components.dwUserNameLength) {
    components.lpszUserName = back(parts.lpszUserName);
    components.dwUserNameLength = parts.dwUserNameLength;
  }
  if (components.dwPasswordLength) {
    components.lpszPassword = back(parts.lpszPassword);
    components.dwPasswordLength = parts.dwPasswordLength;
  }
  if (components.dwUrlPathLength) {
    components.lpszUrlPath = back(parts.lpszUrlPath);
    components.dwUrlPathLength = parts.dwUrlPathLength;
  }
  if (components.dwExtraInfoLength) {
    components.lpszExtraInfo = back(parts.lpszExtraInfo);
    components.dwExtraInfoLength = parts.dwExtraInfoLength;
  }
  ::SetLastError(error);
  return ok != FALSE;
}

std::uint32_t InternetErrorDlg(void* parent, HINTERNET request, std::uint32_t error,
                               std::uint32_t flags, void** data) {
  HWND window = parent ? static_cast<HWND>(parent) : ::GetDesktopWindow();
  return ::InternetErrorDlg(window, Native(request), error, flags, data);
}

UnicodeString FormatMessageW(std::uint32_t flags, std::u16string_view module,
                             std::uint32_t messageId, std::uint32_t languageId,
                             std::uint32_t bufferChars) {
  // Our own code, which no message table of the system has.
  if (messageId == ERROR_HTTP_RESPONSE_TOO_LARGE)
    return u"The server's answer is larger than the 16 MiB this client accepts";
  if (bufferChars == 0) return {};
  HMODULE source = nullptr;
  if (flags & FORMAT_MESSAGE_FROM_HMODULE) {
    const std::wstring name = Z(module);
    // wininet.dll is one of our imports, so it is loaded already.
    source = ::GetModuleHandleW(name.c_str());
  }
  std::wstring buffer(bufferChars, L'\0');
  const DWORD n =
      ::FormatMessageW(flags, source, messageId, languageId, buffer.data(), bufferChars, nullptr);
  return UnicodeString(reinterpret_cast<const char16_t*>(buffer.data()), n);
}

}  // namespace delvan::platform
