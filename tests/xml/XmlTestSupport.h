// Helpers of the XML tests: the platform DOM vendor registered once for
// the test run, and a namespace-aware reading of saved text.
#pragma once

#include <string>
#include <vector>

#include "TestSupport.h"
#include "platform/XmlDomVendor.h"
#include "xml/XMLDoc.h"

namespace delvan::test {

// Registers the platform's DOM vendor unless the library's initialisation
// has done so already.
inline void EnsureDOMVendor() { platform::RegisterPlatformDOMVendor(); }

// One line per element of a parsed tree, in document order:
// "qualified name {namespace URI}", indented by depth.
inline std::string ElementOutline(const IntfPtr<xml::IXMLNode>& root) {
  std::string out;
  std::vector<std::pair<IntfPtr<xml::IXMLNode>, int>> stack{{root, 0}};
  while (!stack.empty()) {
    auto [n, depth] = stack.back();
    stack.pop_back();
    out.append(2 * depth, ' ').append(Utf8(n->GetNodeName())).append(" {");
    out.append(Utf8(n->GetNamespaceURI())).append("}\n");
    IntfPtr<xml::IXMLNodeList> kids = n->GetChildNodes();
    for (int i = kids->GetCount() - 1; i >= 0; --i)
      if (kids->Get(i)->GetNodeType() == xml::ntElement)
        stack.emplace_back(kids->Get(i), depth + 1);
  }
  return out;
}

}  // namespace delvan::test
