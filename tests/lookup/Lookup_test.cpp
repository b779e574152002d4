// The exported call and its failure text, as the host sees them.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <thread>

#include "HttpTestSupport.h"
#include "RegistryMock.h"
#include "TestSupport.h"
#include "delvan.h"
#include "lookup/FailureText.h"
#include "platform/CodePageTestSeam.h"
#include "platform/HttpClientTestSeam.h"
#include "service/CredentialsHeader.h"

namespace delvan::lookup {
namespace {

using platform::testing::ScopedACP;

TEST(FailureText, SentenceThenMessageInTheAnsiCodePage) {
  // The sentence is the Greek text in code page 1253, with CR LF.
  EXPECT_EQ(platform::WideCharToMultiByte(
                platform::CP_GREEK, 0,
                test::U("Παρουσιάστηκε σφάλμα κατα την ανάκτηση στοιχείων απο το TAXIS\r\n")),
            FailureSentence);

  const struct {
    platform::TCodePage acp;
    const char* message;  // UTF-8
    std::string bytes;    // after the sentence
  } cases[] = {
      {platform::CP_GREEK, "Σφάλμα σύνδεσης",
       "\xD3\xF6\xDC\xEB\xEC\xE1 \xF3\xFD\xED\xE4\xE5\xF3\xE7\xF2"},
      {platform::CP_UTF8, "Σφάλμα", "Σφάλμα"},
      {platform::CP_US_ASCII, "Σφάλμα 404", "?????? 404"},
      {platform::CP_GREEK, "", ""},
  };
  for (const auto& c : cases) {
    ScopedACP acp(c.acp);
    AnsiString text = AddGeneralError(test::U(c.message));
    EXPECT_EQ(text.Bytes(), std::string(FailureSentence) + c.bytes) << c.message;
    EXPECT_EQ(text.CodePage(), c.acp);
  }
}

// The service host goes to a closed loopback port: every lookup fails at
// once, and no name is looked up outside the machine.
struct EndpointClosed {
  platform::testing::ScopedHttpClientTestSeam seam;
  EndpointClosed() {
    platform::testing::RouteToLoopback(registrymock::RegistryMock::ServiceHost(), 443,
                                       test::ClosedPort());
  }
};

std::string Call(const char* a, const char* b, const char* u, const char* p) {
  return RunWSOrvDLL(a, b, u, p);
}

TEST(RunWSOrvDLL, EveryFailureBecomesTheFailureText) {
  EndpointClosed closed;
  ScopedACP acp(platform::CP_GREEK);
  // Every call ends in the same failure, whatever its arguments.
  const std::string first = Call("012345678", "094019245", "user", "secret");
  EXPECT_TRUE(first.starts_with(FailureSentence)) << first;
  EXPECT_GT(first.size(), FailureSentence.size());
  EXPECT_EQ(Call(nullptr, nullptr, nullptr, nullptr), first);
  EXPECT_EQ(Call("\xE1\xE2", "", "", ""), first);
}

TEST(RunWSOrvDLL, StoresTheCredentialsAsUtf8Bytes) {
  EndpointClosed closed;
  Call("1", "2", "us\xCE\xB1r", "p\xFF&<");
  ASSERT_NE(service::crheader, nullptr);
  EXPECT_EQ(service::crheader->FUsername, AnsiString("us\xCE\xB1r", platform::CP_UTF8));
  EXPECT_EQ(service::crheader->FPassword, AnsiString("p\xFF&<", platform::CP_UTF8));
  // The next call overwrites both fields.
  Call("1", "2", nullptr, "second");
  EXPECT_EQ(service::crheader->FUsername.Bytes(), "");
  EXPECT_EQ(service::crheader->FPassword.Bytes(), "second");
}

TEST(RunWSOrvDLL, TextStaysValidPerThreadUntilItsNextCall) {
  EndpointClosed closed;
  const char* first = RunWSOrvDLL("1", "2", "u", "p");
  std::string copy = first;
  std::string other;
  std::thread([&] { other = RunWSOrvDLL("3", "4", "v", "q"); }).join();
  EXPECT_EQ(std::string(first), copy);  // another thread's call leaves it alone
  EXPECT_EQ(other, copy);

  std::vector<std::thread> threads;
  std::vector<std::string> texts(8);
  for (int i = 0; i < 8; ++i)
    threads.emplace_back([&texts, i] {
      for (int n = 0; n < 50; ++n) texts[i] = RunWSOrvDLL("1", "2", "u", "p");
    });
  for (auto& t : threads) t.join();
  for (const std::string& t : texts) EXPECT_EQ(t, copy);
}

// The shipped library, loaded as a host loads it, with its own initialisation.
TEST(SharedLibrary, LoadsAndAnswersThroughTheExport) {
  void* lib = dlopen(DELVAN_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  using Fn = const char* (*)(const char*, const char*, const char*, const char*);
  auto run = reinterpret_cast<Fn>(dlsym(lib, "RunWSOrvDLL"));
  ASSERT_NE(run, nullptr);
  // Called from a thread that then ends, so dlclose really unloads the
  // library and its finalisation runs.
  std::string text;
  std::thread([&] { text = run("012345678", "094019245", "user", "secret"); }).join();
  EXPECT_TRUE(text.starts_with(FailureSentence)) << text;
  EXPECT_GT(text.size(), FailureSentence.size());
  EXPECT_EQ(dlsym(lib, "_ZN6delvan17InitializeLibraryEv"), nullptr);  // nothing else is exported
  dlclose(lib);
}

}  // namespace
}  // namespace delvan::lookup
