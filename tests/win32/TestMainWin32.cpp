// Test entry of the Windows backends: the library's initialisation around
// the run, as loading Delvan.dll does, on a main thread with COM
// initialised, as a host's is.
#include <gtest/gtest.h>

#include "lookup/LibraryInit.h"

// clang-format off
#include <objbase.h>
// clang-format on

namespace {
class LibraryEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { delvan::InitializeLibrary(); }
  void TearDown() override { delvan::FinalizeLibrary(); }
};
}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  ::testing::AddGlobalTestEnvironment(new LibraryEnvironment);
  const int rc = RUN_ALL_TESTS();
  ::CoUninitialize();
  return rc;
}
