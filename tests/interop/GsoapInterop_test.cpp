// Interoperability with an independent SOAP toolkit: a gSOAP server built
// from the service's WSDL answers the lookup on loopback, written as that
// toolkit writes it (its prefixes, its namespace choices), and its parser
// must accept our request.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "TestSupport.h"
#include "lookup/Lookup.h"
#include "platform/CodePageTestSeam.h"

extern char** environ;

namespace delvan::lookup {
namespace {

#ifdef DELVAN_GSOAP_SERVER
// The server program, started with a log file, stopped when the scope ends.
class GsoapServer {
 public:
  GsoapServer() {
    FLog = std::filesystem::temp_directory_path() /
           ("rgws-gsoap-" + std::to_string(getpid()) + ".log");
    std::filesystem::remove(FLog);
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string program = DELVAN_GSOAP_SERVER, log = FLog.string();
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(log.c_str()), nullptr};
    if (posix_spawn(&FPid, program.c_str(), &actions, nullptr, argv, environ) != 0) FPid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    char line[32] = {};
    FILE* in = fdopen(out[0], "r");
    if (in && std::fgets(line, sizeof line, in)) FPort = std::atoi(line);
    if (in) std::fclose(in);
  }
  ~GsoapServer() {
    if (FPid > 0) {
      kill(FPid, SIGTERM);
      waitpid(FPid, nullptr, 0);
    }
    std::filesystem::remove(FLog);
  }
  GsoapServer(const GsoapServer&) = delete;
  GsoapServer& operator=(const GsoapServer&) = delete;

  int Port() const { return FPort; }
  std::string Log() const {
    std::ifstream in(FLog);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

 private:
  std::filesystem::path FLog;
  pid_t FPid = -1;
  int FPort = 0;
};

TEST(GsoapInterop, TheToolkitsServerAnswersTheLookupAndAcceptsOurRequest) {
  platform::testing::ScopedACP acp(platform::CP_UTF8);
  GsoapServer server;
  ASSERT_GT(server.Port(), 0);
  const UnicodeString url =
      test::U("http://127.0.0.1:" + std::to_string(server.Port()) + "/RgWsPublicPort");

  // The mock's answer for the same taxpayer, but with the registration date
  // as the toolkit writes a dateTime: in UTC.
  std::string expected = test::ReadFixture("lookup/greek_record.utf8");
  const std::string local = "registDate=1999-07-01T00:00:00+03:00";
  ASSERT_NE(expected.find(local), std::string::npos);
  expected.replace(expected.find(local), local.size(), "registDate=1999-06-30T21:00:00Z");
  EXPECT_EQ(Lookup("012345678", "094019245", "user", "secret", url).Bytes(), expected);

  // Another number: the error record alone, still through the toolkit.
  const std::string other = Lookup("012345678", "111111111", "user", "secret", url).Bytes();
  EXPECT_EQ(other.rfind("afm=;", 0), 0u) << other;
  EXPECT_NE(other.find("errorCode=RG_WS_PUBLIC_TAXPAYER_NOT_FOUND"), std::string::npos) << other;

  // What the toolkit's parser made of our two requests: the arguments, and
  // the credentials block as the text of its header entry.
  const std::string security =
      "security=<SOAP-ENV:UsernameToken><SOAP-ENV:Username>USER</SOAP-ENV:Username>"
      "<SOAP-ENV:Password>secret</SOAP-ENV:Password></SOAP-ENV:UsernameToken>\n";
  EXPECT_EQ(server.Log(),
            "afmCalledBy=012345678;afmCalledFor=094019245;pCallSeqId_out=0;" + security +
                "afmCalledBy=012345678;afmCalledFor=111111111;pCallSeqId_out=0;" + security);
}
#else
TEST(GsoapInterop, TheToolkitsServerAnswersTheLookupAndAcceptsOurRequest) {
  GTEST_SKIP() << "gSOAP (wsdl2h, soapcpp2, libgsoap++) is not installed";
}
#endif

}  // namespace
}  // namespace delvan::lookup
