#include "service/ServiceBinding.h"

#include <mutex>

#include "service/CredentialsHeader.h"

namespace delvan::service {

namespace {
constinit std::mutex gInitLock;
constinit int gInitCount = 0;
}  // namespace

void InitializeServiceBinding() {
  std::lock_guard lock(gInitLock);
  if (gInitCount++ > 0) return;
  crheader = new AFMCredentialsHeader();
}

void FinalizeServiceBinding() {
  std::lock_guard lock(gInitLock);
  if (gInitCount == 0 || --gInitCount > 0) return;
  delete std::exchange(crheader, nullptr);
}

}  // namespace delvan::service
