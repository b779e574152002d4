// Soak and concurrency: many whole lookups in one process against the mock
// service, with resident memory and open descriptors watched; and sixteen
// threads calling the export at once. The long runs are for the release
// build; the debug build's leak check already covers a thousand lookups
// (tests/e2e), so there the soak is skipped and the threads run briefly.
#include <dirent.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <future>
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "RegistryMock.h"
#include "RegistryService.h"
#include "TestSupport.h"
#include "delvan.h"
#include "lookup/FailureText.h"
#include "lookup/Lookup.h"
#include "platform/CodePageTestSeam.h"
#include "platform/HttpClientTestSeam.h"

namespace delvan::lookup {
namespace {

using platform::testing::ScopedACP;
using platform::testing::ScopedHttpClientTestSeam;
using registrymock::ElementText;
using registrymock::RegistryMock;

#ifdef NDEBUG
constexpr bool kLongRuns = true;
constexpr auto kThreadRun = std::chrono::seconds(60);
#else
constexpr bool kLongRuns = false;
constexpr auto kThreadRun = std::chrono::seconds(2);
#endif

std::uint64_t ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stoull(line.substr(6));
  return 0;
}

int OpenDescriptors() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d)) ++n;
    closedir(d);
  }
  return n - 3;  // ".", ".." and the directory's own descriptor
}

class Soak : public ::testing::Test {
 protected:
  void SetUp() override {
    mock = std::make_unique<RegistryMock>();
    platform::testing::TrustAuthorityFile(mock->AuthorityFile());
    platform::testing::RouteToLoopback(RegistryMock::ServiceHost(), 443, mock->Port());
  }
  ScopedHttpClientTestSeam seam;
  std::unique_ptr<RegistryMock> mock;
};

// The mock's threads end a moment after their client goes; give them that
// moment before counting descriptors.
int SettledDescriptors() {
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  return OpenDescriptors();
}

// Runs lookups one after another after a warm-up, and checks that resident
// memory and open descriptors stay flat. The mock keeps a record of every
// request in this same process: they are counted and dropped as the run
// goes, so that they do not show as our growth.
void ExpectFlat(RegistryMock& mock, int lookups, const std::function<std::string()>& lookup,
                const std::string& good) {
  constexpr int kWarmUp = 500, kSamples = 10;
  for (int i = 0; i < kWarmUp; ++i) ASSERT_EQ(lookup(), good);
  std::size_t served = mock.Requests().size();
  mock.ClearRecords();
  const std::uint64_t warm = ResidentKiB();
  const int fds = SettledDescriptors();
  std::uint64_t highest = warm;
  std::string figures = "resident KiB after warm-up " + std::to_string(warm);
  for (int i = 1; i <= lookups; ++i) {
    ASSERT_EQ(lookup(), good) << i;
    if (i % 100 == 0) {
      served += mock.Requests().size();
      mock.ClearRecords();
    }
    if (i % (lookups / kSamples) == 0) {
      const std::uint64_t now = ResidentKiB();
      highest = std::max(highest, now);
      figures += ", " + std::to_string(now);
    }
  }
  const int fdsAfter = SettledDescriptors();
  std::cout << "[ soak ] " << lookups << " lookups: " << figures << "; descriptors " << fds
            << " -> " << fdsAfter << "\n";
  ::testing::Test::RecordProperty("resident_kib", figures);
  // Flat: no more than 4 MiB above the warm figure (over 10 000 lookups a
  // leak of even 400 bytes a lookup would show), and no descriptor kept.
  EXPECT_LT(highest - warm, 4096u) << figures;
  EXPECT_LE(fdsAfter, fds) << "descriptors grew";
  EXPECT_EQ(served + mock.Requests().size(), static_cast<std::size_t>(kWarmUp + lookups));
}

// Ten thousand whole lookups over plain HTTP, at the mock's address (a TLS
// handshake on both ends would make the run minutes long).
TEST(SoakHttp, TenThousandLookupsKeepMemoryAndDescriptorsFlat) {
  if (!kLongRuns) GTEST_SKIP() << "release build only";
  ScopedACP acp(platform::CP_GREEK);
  registrymock::RegistryMockOptions options;
  options.tls = false;
  RegistryMock mock(options);
  const UnicodeString url = test::U(mock.Url());
  ExpectFlat(
      mock, 10000, [&] { return Lookup("012345678", "094019245", "user", "secret", url).Bytes(); },
      test::ReadFixture("lookup/greek_record.cp1253"));
}

// Through the export at its fixed HTTPS endpoint: TLS and the certificate
// checks on every connection.
TEST_F(Soak, TwoThousandHttpsLookupsThroughTheExportKeepMemoryAndDescriptorsFlat) {
  if (!kLongRuns) GTEST_SKIP() << "release build only";
  ScopedACP acp(platform::CP_GREEK);
  ExpectFlat(
      *mock, 2000,
      [] { return std::string(RunWSOrvDLL("012345678", "094019245", "user", "secret")); },
      test::ReadFixture("lookup/greek_record.cp1253"));
}

TEST_F(Soak, SixteenThreadsEachGetTheirOwnTextAndSendTheirOwnCredentials) {
  ScopedACP acp(platform::CP_UTF8);
  const char* const afms[] = {"094019245", "998877665", "123456783", "123456789"};
  std::map<std::string, std::string> expected;
  for (const char* afm : afms) expected[afm] = RunWSOrvDLL("012345678", afm, "user", "secret");
  const std::string refused =
      std::string(FailureSentence) + "Authentication failed: wrong user name or password";
  mock->ClearRecords();

  constexpr int kThreads = 16;
  std::atomic<bool> stop{false};
  std::vector<int> calls(kThreads, 0), wrong(kThreads, 0);
  std::vector<std::future<void>> done;
  for (int t = 0; t < kThreads; ++t)
    done.push_back(std::async(std::launch::async, [&, t] {
      // Threads of even number hold the right credentials, odd ones their own
      // wrong ones, which the service refuses.
      const std::string user = t % 2 ? "user" + std::to_string(t) : "user";
      const std::string password = t % 2 ? "pw" + std::to_string(t) : "secret";
      const char* afm = afms[t % 4];
      const std::string& mine = t % 2 ? refused : expected[afm];
      while (!stop) {
        if (RunWSOrvDLL("012345678", afm, user.c_str(), password.c_str()) != mine) ++wrong[t];
        ++calls[t];
      }
    }));
  std::this_thread::sleep_for(kThreadRun);
  stop = true;
  for (auto& f : done)
    if (f.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
      std::cerr << "a lookup thread did not finish: deadlock\n";
      std::abort();  // do not hang the run
    }

  int total = 0;
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_GT(calls[t], 0) << "thread " << t << " never got through";
    EXPECT_EQ(wrong[t], 0) << "thread " << t;
    total += calls[t];
  }
  std::cout << "[ soak ] " << total << " lookups from " << kThreads << " threads\n";
  // Every request carried its own thread's credentials with its own number.
  const auto sent = mock->Requests();
  ASSERT_EQ(sent.size(), static_cast<std::size_t>(total));
  for (const auto& r : sent) {
    const std::string user = ElementText(r.body, "Username").value_or("");
    const std::string password = ElementText(r.body, "Password").value_or("");
    const std::string afm = ElementText(r.body, "afmCalledFor").value_or("");
    if (user == "USER") {
      ASSERT_EQ(password, "secret");
      continue;
    }
    ASSERT_EQ(user.rfind("USER", 0), 0u) << user;
    const int t = std::atoi(user.c_str() + 4);
    ASSERT_EQ(password, "pw" + std::to_string(t));
    ASSERT_EQ(afm, afms[t % 4]);
  }
}

}  // namespace
}  // namespace delvan::lookup
