// The command-line tool `delvan`: one lookup from a shell or a script, with
// the password kept off the command line, and the answer as the raw result
// text, as JSON or as a table, in the terminal's encoding.
#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "rtl/UnicodeString.h"

namespace delvan::cli {

// Exit codes.
inline constexpr int ExitSuccess = 0;
inline constexpr int ExitLookupFailed = 1;  // the library returned its failure text
inline constexpr int ExitUsage = 2;         // bad arguments or unreadable inputs

// What the tool reads and writes besides its arguments, so that a test can
// stand in for the terminal.
struct CliIo {
  std::istream& in;
  std::ostream& out;
  std::ostream& err;
  bool stdinIsTerminal = false;
  // Shows prompt and reads one line without echo; nullopt when it cannot.
  std::function<std::optional<std::string>(const std::string& prompt)> readSecret;
  // Trusts the certificate authorities of a PEM file in addition to the
  // system's; false when the file holds none.
  std::function<bool(const std::string& pemPath)> trustAuthority;
};

// Runs the tool with its arguments (without the program name); the exit code.
// The library must be initialised.
int RunCli(const std::vector<std::string>& args, CliIo& io);

// One item of a result text: name and value.
using ResultItem = std::pair<UnicodeString, UnicodeString>;

// Splits a result text into its items by its quoting rules: items are
// separated by ";" outside quotes, a quoted item has its doubled quotes
// undone, and each item splits at its first "=".
std::vector<ResultItem> ParseResultItems(UnicodeStringView text);

// The items as a JSON object (UTF-8): "record" with the response record's
// items, "error" with the error record's, "activities" as an array of
// objects. Ends with a line break.
std::string ItemsToJson(const std::vector<ResultItem>& items);

// The items as an aligned table for people (UTF-16); the constant items of
// every record (DataContext, SerializationOptions) are left out.
UnicodeString ItemsToTable(const std::vector<ResultItem>& items);

// The text the library returned, decoded: a failure text's sentence from
// code page 1253 and the rest from the system ANSI code page. failed tells
// which it was.
UnicodeString DecodeLookupText(const std::string& bytes, bool& failed);

}  // namespace delvan::cli
