// The command-line tool: its arguments and exit codes, where the password
// comes from, and the result text parsed back into JSON and a table.
#include "DelvanCli.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "HttpTestSupport.h"
#include "TestSupport.h"
#include "lookup/FailureText.h"
#include "lookup/ResultText.h"
#include "platform/CodePageTestSeam.h"
#include "service/CredentialsHeader.h"

namespace delvan::cli {
namespace {

using test::U;

struct CliRun {
  std::istringstream in;
  std::ostringstream out, err;
  CliIo io{in, out, err, false, nullptr, nullptr};
  std::vector<std::string> prompts;
  int status = -1;

  explicit CliRun(std::string input = {}) : in(std::move(input)) {}
  CliRun& operator()(std::vector<std::string> args) {
    status = RunCli(args, io);
    return *this;
  }
};

TEST(DelvanCli, RefusesBadUsageWithItsOwnExitCode) {
  const struct {
    std::vector<std::string> args;
    const char* message;  // part of what standard error says
  } cases[] = {
      {{}, "no command given"},
      {{"find", "1", "2"}, "unknown command 'find'"},
      {{"lookup", "1", "2"}, "--user is required"},
      {{"lookup", "1", "--user", "u"}, "two tax registration numbers"},
      {{"lookup", "1", "2", "3", "--user", "u"}, "two tax registration numbers"},
      {{"lookup", "1", "2", "--user", "u", "--password", "secret"},
       "not taken from the command line"},
      {{"lookup", "1", "2", "--user", "u", "--password=secret"}, "not taken from the command line"},
      {{"lookup", "1", "2", "--user", "u", "--format", "xml"}, "--format takes table, json or raw"},
      {{"lookup", "1", "2", "--user"}, "--user needs a name"},
      {{"lookup", "1", "2", "--user", "u", "--colour"}, "unknown option '--colour'"},
      {{"lookup", "1", "2", "--user", "u", "--password-file", "/nonexistent/pw"},
       "cannot read the password file /nonexistent/pw"},
      {{"lookup", "1", "2", "--user", "u", "--password-file", "f", "--password-stdin"},
       "exclude each other"},
  };
  for (const auto& c : cases) {
    CliRun run;
    run(c.args);
    EXPECT_EQ(run.status, ExitUsage) << c.message;
    EXPECT_NE(run.err.str().find(c.message), std::string::npos) << run.err.str();
    EXPECT_EQ(run.out.str(), "");
  }
  CliRun help;
  help({"--help"});
  EXPECT_EQ(help.status, ExitSuccess);
  EXPECT_TRUE(help.out.str().starts_with("usage: delvan lookup"));
  CliRun version;
  version({"--version"});
  EXPECT_EQ(version.status, ExitSuccess);
  EXPECT_TRUE(version.out.str().starts_with("delvan "));
}

TEST(DelvanCli, TakesThePasswordFromAFileStandardInputOrThePrompt) {
  const std::string endpoint = "https://127.0.0.1:" + std::to_string(test::ClosedPort()) +
                               "/webtax2/wsgsis/RgWsPublic/RgWsPublicPort";
  const std::filesystem::path file = std::filesystem::temp_directory_path() / "delvan_cli_pw.txt";
  std::ofstream(file) << "from-file\r\nsecond line\n";

  const struct {
    std::vector<std::string> extra;
    std::string input;
    bool terminal;
    const char* password;  // what reaches the credentials header
    bool prompted;
  } cases[] = {
      {{"--password-file", file.string()}, "", false, "from-file", false},
      {{"--password-stdin"}, "from-stdin\nrest\n", true, "from-stdin", false},
      {{}, "piped\n", false, "piped", false},
      {{}, "", true, "typed", true},
  };
  for (const auto& c : cases) {
    CliRun run(c.input);
    run.io.stdinIsTerminal = c.terminal;
    run.io.readSecret = [&](const std::string& prompt) -> std::optional<std::string> {
      run.prompts.push_back(prompt);
      return std::string("typed");
    };
    std::vector<std::string> args{"lookup",  "012345678",  "094019245", "--user",
                                  "someone", "--endpoint", endpoint};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    run(args);
    // Nothing listens there: the lookup fails, after storing the credentials.
    EXPECT_EQ(run.status, ExitLookupFailed) << c.password;
    ASSERT_NE(service::crheader, nullptr);
    EXPECT_EQ(service::crheader->FPassword.Bytes(), c.password);
    EXPECT_EQ(service::crheader->FUsername.Bytes(), "someone");
    EXPECT_EQ(run.prompts.size(), c.prompted ? 1u : 0u);
    if (c.prompted) {
      EXPECT_EQ(run.prompts[0], "Password for someone: ");
    }
    EXPECT_TRUE(run.err.str().starts_with("delvan: the lookup failed: "));
    EXPECT_EQ(run.out.str(), "");
  }
  std::filesystem::remove(file);

  // No terminal to ask, or no authority in the file given: a usage error.
  CliRun noTerminal;
  noTerminal.io.stdinIsTerminal = true;
  noTerminal.io.readSecret = [](const std::string&) { return std::optional<std::string>(); };
  noTerminal({"lookup", "1", "2", "--user", "u"});
  EXPECT_EQ(noTerminal.status, ExitUsage);
  CliRun badAuthority("pw\n");
  badAuthority.io.trustAuthority = [](const std::string&) { return false; };
  badAuthority({"lookup", "1", "2", "--user", "u", "--ca-file", "/dev/null"});
  EXPECT_EQ(badAuthority.status, ExitUsage);
  EXPECT_NE(badAuthority.err.str().find("/dev/null"), std::string::npos);
}

TEST(DelvanCli, DecodesTheFailureSentenceAndTheMessageEachInItsCodePage) {
  platform::testing::ScopedACP acp(platform::CP_UTF8);
  bool failed = false;
  const std::string text = std::string(lookup::FailureSentence) + "Σφάλμα 404";
  EXPECT_EQ(DecodeLookupText(text, failed),
            U("Παρουσιάστηκε σφάλμα κατα την ανάκτηση στοιχείων απο το TAXIS\r\nΣφάλμα 404"));
  EXPECT_TRUE(failed);
  EXPECT_EQ(DecodeLookupText("onomasia=ΑΛΦΑ", failed), U("onomasia=ΑΛΦΑ"));
  EXPECT_FALSE(failed);
}

TEST(DelvanCli, ParsesResultItemsBackByTheQuotingRules) {
  const std::vector<ResultItem> items = {
      {u"onomasia", u"A\"B"}, {u"doyDescr", u"ATHENS A"}, {u"x", u"semi;colon"},
      {u"commerTitle", u""},  {u"tab", u"a\tb"},          {u"eq", u"a=b"},
      {u"greek", U("ΑΘΗΝΑ")},
  };
  std::vector<UnicodeString> joined;
  for (const auto& [name, value] : items) {
    UnicodeString item = name;
    item += u'=';
    item += value;
    joined.push_back(item);
  }
  // What the library writes is what the tool reads back.
  EXPECT_EQ(ParseResultItems(lookup::JoinItems(joined)), items);
  EXPECT_TRUE(ParseResultItems(u"").empty());
  EXPECT_EQ(ParseResultItems(u"bare"), (std::vector<ResultItem>{{u"bare", u""}}));
}

TEST(DelvanCli, ShowsTheWorkedExampleAsJsonAndAsATable) {
  const UnicodeString text = U(test::ReadFixture("lookup/worked_example.txt"));
  const std::vector<ResultItem> items = ParseResultItems(text);
  ASSERT_EQ(items.size(), 26u);
  EXPECT_EQ(items[3], (ResultItem{u"doyDescr", u"ATHENS A"}));

  const std::string json = ItemsToJson(items);
  EXPECT_TRUE(json.starts_with("{\n  \"record\": {\n    \"afm\": \"012345678\",\n")) << json;
  EXPECT_NE(json.find("    \"onomasia\": \"ALPHA TRADING SA\",\n"), std::string::npos);
  EXPECT_NE(json.find("  \"error\": {\n    \"errorDescr\": \"\",\n    \"errorCode\": \"\"\n  },\n"),
            std::string::npos)
      << json;
  EXPECT_TRUE(
      json.ends_with("  \"activities\": [\n    {\n      \"firmActDescr\": \"RETAIL SALE\",\n"
                     "      \"firmActKind\": \"1\",\n      \"firmActKindDescr\": \"MAIN\",\n"
                     "      \"firmActCode\": \"471\"\n    }\n  ]\n}\n"))
      << json;
  EXPECT_EQ(json.find("DataContext"), std::string::npos);

  const UnicodeString table = ItemsToTable(items);
  EXPECT_TRUE(
      table.starts_with(u"afm                    012345678\n"
                        u"stopDate               (empty)\n"))
      << test::Utf8(table);
  EXPECT_NE(table.find(u"\ncommerTitle\n"), UnicodeString::npos);  // empty value, no padding
  EXPECT_TRUE(
      table.ends_with(u"\n#  firmActDescr  firmActKind  firmActKindDescr  firmActCode\n"
                      u"0  RETAIL SALE   1            MAIN              471\n"))
      << test::Utf8(table);
}

}  // namespace
}  // namespace delvan::cli
