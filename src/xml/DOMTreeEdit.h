// An optional DOM vendor extension: the changes the node model makes to
// every element it writes (a child appended, a text appended, a new leaf
// element appended) without the counted node the general calls return. A vendor
// that does not offer it is asked the general way.
#pragma once

#include "rtl/Interface.h"
#include "rtl/UnicodeString.h"
#include "xml/xmldom.h"

namespace delvan::xml {

// Asked of the document, about one of its nodes. Each call tells a parent
// of another document (one kept from before a reload) apart by returning
// false with nothing changed: the caller then asks that node the general
// way.
class IDOMTreeEdit : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{B63F0E2D-5A94-4C17-8E2B-71D9A4C0F583}");
  // parent->appendChild(child), without the child handed back.
  virtual bool appendChildTo(IDOMNode* parent, IDOMNode* child) = 0;
  // A new text node of data appended to parent, as the document's
  // createTextNode and parent->appendChild would.
  virtual bool appendText(IDOMNode* parent, const UnicodeString& data) = 0;
  // A new element named qualifiedName in namespaceURI (none when empty)
  // appended to parent, with data as its text when given: what
  // createElementNS, appendChild and appendText make. The element has no
  // attributes and comes back uncounted: it lives while parent holds it.
  // Null, with nothing changed, for a parent of another document.
  virtual IDOMElement* appendElement(IDOMNode* parent, const UnicodeString& namespaceURI,
                                     const UnicodeString& qualifiedName,
                                     const UnicodeString* data) = 0;

 protected:
  ~IDOMTreeEdit() = default;
};

}  // namespace delvan::xml
