// Fixed namespaces and names of the SOAP layer: XML Schema, SOAP envelope
// and encoding, and the namespace of the library's own types.
#pragma once

#include <array>
#include <string_view>

namespace delvan::soap {

// The XML Schema namespaces of 1999, 2000/10 and 2001, in that order, and
// the matching schema-instance namespaces.
inline constexpr std::array<std::u16string_view, 3> XMLSchemaNamespaces = {
    u"http://www.w3.org/1999/XMLSchema", u"http://www.w3.org/2000/10/XMLSchema",
    u"http://www.w3.org/2001/XMLSchema"};
inline constexpr std::array<std::u16string_view, 3> XMLSchemaInstNamespaces = {
    u"http://www.w3.org/1999/XMLSchema-instance", u"http://www.w3.org/2000/10/XMLSchema-instance",
    u"http://www.w3.org/2001/XMLSchema-instance"};

// The XML Schema namespace of the built-in type registrations (2001).
inline constexpr std::u16string_view XMLSchemaNameSpace = XMLSchemaNamespaces[2];
inline constexpr std::u16string_view XMLSchemaInstNameSpace = XMLSchemaInstNamespaces[2];

// Index 0 is SOAP 1.1, index 1 SOAP 1.2.
inline constexpr std::array<std::u16string_view, 2> SOAPEnvelopeNamespaces = {
    u"http://schemas.xmlsoap.org/soap/envelope/", u"http://www.w3.org/2003/05/soap-envelope"};
inline constexpr std::array<std::u16string_view, 2> SOAPEncodingNamespaces = {
    u"http://schemas.xmlsoap.org/soap/encoding/", u"http://www.w3.org/2003/05/soap-encoding"};

// The names under which byte arrays travel as base64 text.
inline constexpr std::array<std::u16string_view, 2> XMLBase64Types = {u"base64Binary",
                                                                      u"bin.base64"};

// The namespace of the library's own types (the built-in dynamic arrays and
// the attachment class). Our own URI, under the reserved .example domain.
inline constexpr std::u16string_view SOAPLibraryTypesNamespace =
    u"http://delvan.example/soap/types";

}  // namespace delvan::soap
