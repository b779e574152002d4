// Constants of the registry service binding: the service namespace, the
// endpoint and the service description. The host and the namespace come
// from the build (DELVAN_SERVICE_HOST, DELVAN_SERVICE_NAMESPACE).
#pragma once

#include <algorithm>
#include <array>
#include <string_view>

#include "service/ServiceConfig.h"

namespace delvan::service {

namespace detail {
// Joins string literals at compile time into one NUL-terminated array.
template <std::size_t... N>
constexpr auto Concat(const char16_t (&... parts)[N]) {
  std::array<char16_t, (N + ... + 0) - sizeof...(N) + 1> out{};
  std::size_t at = 0;
  ((std::copy_n(parts, N - 1, out.begin() + at), at += N - 1), ...);
  return out;
}
template <std::size_t N>
constexpr std::u16string_view View(const std::array<char16_t, N>& a) {
  return {a.data(), N - 1};
}
inline constexpr char16_t kServicePath[] = u"/webtax2/wsgsis/RgWsPublic/RgWsPublicPort";
inline constexpr auto kDefURL = Concat(u"https://", config::ServiceHost, u":443", kServicePath);
inline constexpr auto kDefWSDL = Concat(u"https://", config::ServiceHost, kServicePath, u"?WSDL");
}  // namespace detail

// The target namespace of the service: the namespace of the operation
// element and of every record's children; it also starts the SOAP action.
inline constexpr std::u16string_view ServiceNamespace = config::ServiceNamespace;
inline constexpr std::u16string_view ServiceHost = config::ServiceHost;

// The service endpoint, with its explicit port.
inline constexpr std::u16string_view defURL = detail::View(detail::kDefURL);
// The service description.
inline constexpr std::u16string_view defWSDL = detail::View(detail::kDefWSDL);
inline constexpr std::u16string_view defSvc = u"RgWsPublic";
inline constexpr std::u16string_view defPrt = u"RgWsPublicPort";

// The module that declares the service's types.
inline constexpr std::u16string_view ServiceUnitName = u"UTaxAfmWSHelperOrv";

}  // namespace delvan::service
