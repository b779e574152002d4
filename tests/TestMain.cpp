// Test entry: runs the library's initialisation around the whole test run,
// as loading the library does.
#include <gtest/gtest.h>

#include "lookup/LibraryInit.h"

namespace {
class LibraryEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { delvan::InitializeLibrary(); }
  void TearDown() override { delvan::FinalizeLibrary(); }
};
}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new LibraryEnvironment);
  return RUN_ALL_TESTS();
}
