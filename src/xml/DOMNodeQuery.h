// An optional DOM vendor extension: the questions a reader asks of every
// element (has it attributes at all, what are its names and its text), answered on the
// vendor's own data instead of through an attribute map or names copied
// out. A vendor that does not offer it is asked the general way.
#pragma once

#include <cstdint>

#include "rtl/Interface.h"
#include "rtl/UnicodeString.h"
#include "xml/xmldom.h"

namespace delvan::xml {

// Asked of the document, about one of its nodes. Each answer tells a node
// of another document (one kept from before a reload) apart: the caller
// then asks that node the general way.
class IDOMNodeQuery : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{4E2A7C19-8B3D-4F61-9A05-D3C8E1B7F264}");
  // The number of attributes of node (0 for a node that cannot have any);
  // -2 when node is not one of the document's nodes.
  virtual std::int32_t attributeCount(IDOMNode* node) = 0;
  // Views of node's local name and namespace URI (empty: none) in the
  // document's storage, valid while node lives and keeps its name; false,
  // with the views untouched, when node is not one of the document's nodes.
  virtual bool nodeNames(IDOMNode* node, UnicodeStringView& localName,
                         UnicodeStringView& namespaceURI) = 0;
  // 1 when node is an element whose only child is a text node (not a CDATA
  // section), with a view of that text in the document's storage, valid
  // while the text node lives unchanged; 0 when it is not such an element;
  // -2 when node is not one of the document's nodes.
  virtual std::int32_t onlyTextChild(IDOMNode* node, UnicodeStringView& text) = 0;
  // The number of node's children, with up to capacity of them from index
  // first on put in out in order, uncounted (valid while node keeps them);
  // -2 when node is not one of the document's nodes.
  virtual std::int32_t childNodes(IDOMNode* node, std::int32_t first, IDOMNode** out,
                                  std::int32_t capacity) = 0;

 protected:
  ~IDOMNodeQuery() = default;
};

}  // namespace delvan::xml
