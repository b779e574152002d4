// The DOM vendor registry: lookup by exact name, refused duplicates, and
// the default vendor.
#include "xml/xmldom.h"

#include <gtest/gtest.h>

#include "xml/XmlTestSupport.h"

namespace delvan::test {
namespace {

using namespace delvan::xml;

class TFakeVendor : public TDOMVendor {
 public:
  explicit TFakeVendor(UnicodeString name) : FName(std::move(name)) {}
  UnicodeString Description() const override { return FName; }
  IntfPtr<IDOMImplementation> DOMImplementation() override { return {}; }

 private:
  UnicodeString FName;
};

TEST(DOMVendors, LookupRegistrationAndDefault) {
  EnsureDOMVendor();
  TDOMVendor* platform = GetDOMVendor(u"");
  ASSERT_EQ(DOMVendors().Count(), 1);
  EXPECT_EQ(DOMVendors().Vendors(0), platform);
  const UnicodeString name = platform->Description();
  EXPECT_EQ(GetDOMVendor(name), platform);
  EXPECT_TRUE(GetDOM());

  UnicodeString lower = name;
  for (char16_t& c : lower)
    if (c >= u'A' && c <= u'Z') c += 32;
  try {
    GetDOMVendor(lower);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), u"No matching DOM Vendor: \"" + lower + u"\"");
  }

  TFakeVendor twin(name), second(u"Second"), third(u"Third");
  try {
    RegisterDOMVendor(&twin);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), u"\"" + name + u"\" DOMImplementation already registered");
  }
  EXPECT_EQ(DOMVendors().Count(), 1);

  RegisterDOMVendor(&second);
  RegisterDOMVendor(&third);
  EXPECT_EQ(GetDOMVendor(u""), platform);  // the first registered
  DefaultDOMVendor = u"Third";
  EXPECT_EQ(GetDOMVendor(u""), &third);
  DefaultDOMVendor.clear();
  UnRegisterDOMVendor(&second);
  ASSERT_EQ(DOMVendors().Count(), 2);
  EXPECT_EQ(DOMVendors().Vendors(1), &third);
  UnRegisterDOMVendor(&third);
  UnRegisterDOMVendor(&third);
  EXPECT_EQ(DOMVendors().Count(), 1);
}

}  // namespace
}  // namespace delvan::test
