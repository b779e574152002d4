// Fuzz target for the XML layer: a document that parses is saved, and the
// saved text must parse again into the same tree (the same text when saved
// once more).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "lookup/LibraryInit.h"
#include "rtl/Stream.h"
#include "xml/XMLDoc.h"

using namespace delvan;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  InitializeLibrary();
  return 0;
}

namespace {
// The document saved as UTF-8 bytes.
std::string Saved(xml::IXMLDocument& doc) {
  TMemoryStream out;
  doc.SaveToStream(out);
  out.SetPosition(0);
  return out.ReadRest();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string first;
  try {
    TMemoryStream in(std::string(reinterpret_cast<const char*>(data), size));
    IntfPtr<xml::IXMLDocument> doc = xml::NewXMLDocument();
    doc->LoadFromStream(in);
    first = Saved(*doc);
  } catch (const Exception&) {
    return 0;  // not a document, or not one the layer takes
  }
  try {
    TMemoryStream again(first);
    IntfPtr<xml::IXMLDocument> doc = xml::NewXMLDocument();
    doc->LoadFromStream(again);
    if (Saved(*doc) != first) std::abort();  // the tree changed on the way
  } catch (const Exception&) {
    std::abort();  // what the layer wrote it cannot read back
  }
  return 0;
}
