#include "DelvanCli.h"

#include <algorithm>
#include <fstream>
#include <istream>
#include <map>
#include <ostream>

#include "lookup/FailureText.h"
#include "lookup/Lookup.h"
#include "platform/CodePage.h"

namespace delvan::cli {

namespace {

constexpr char kUsage[] =
    "usage: delvan lookup AFM_CALLED_BY AFM_CALLED_FOR --user NAME [options]\n"
    "       delvan --help | --version\n"
    "\n"
    "Looks AFM_CALLED_FOR up in the tax administration's registry, asked by\n"
    "AFM_CALLED_BY, with the service user NAME.\n"
    "\n"
    "The password is never taken from the command line: it is read from\n"
    "--password-file, or from standard input (the first line), or asked for\n"
    "without echo when standard input is a terminal.\n"
    "\n"
    "options:\n"
    "  --user NAME           the service user name (required)\n"
    "  --password-file FILE  read the password from the first line of FILE\n"
    "  --password-stdin      read the password from the first line of standard input\n"
    "  --endpoint URL        call the service at URL instead of its own endpoint\n"
    "  --ca-file FILE        trust the certificate authorities in FILE (PEM) as well\n"
    "  --format FORMAT       table (default), json, or raw (the result text itself)\n"
    "\n"
    "exit status: 0 an answer (which may carry the service's error record),\n"
    "1 the lookup failed, 2 a usage error or an unreadable file.\n";

struct Options {
  std::string afmCalledBy;
  std::string afmCalledFor;
  std::optional<std::string> user;
  std::optional<std::string> passwordFile;
  bool passwordStdin = false;
  std::string endpoint;
  std::string caFile;
  std::string format = "table";
};

int Usage(CliIo& io, const std::string& message) {
  io.err << "delvan: " << message << "\n"
         << "Try 'delvan --help'.\n";
  return ExitUsage;
}

// The first line, without its line break (CR LF or LF).
std::string FirstLine(std::istream& in) {
  std::string line;
  std::getline(in, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

// Text typed or stored in the terminal's encoding, as the UTF-8 bytes the
// library takes the user name and password in.
std::string TerminalToUtf8(const std::string& bytes) {
  return platform::WideCharToMultiByte(platform::CP_UTF8, 0,
                                       platform::MultiByteToWideChar(platform::CP_ACP, 0, bytes));
}

std::string ToTerminal(UnicodeStringView text) {
  return platform::WideCharToMultiByte(platform::CP_ACP, 0, text);
}

std::string JsonString(UnicodeStringView text) {
  const std::string utf8 = platform::WideCharToMultiByte(platform::CP_UTF8, 0, text);
  std::string out = "\"";
  for (unsigned char c : utf8) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          static constexpr char kHex[] = "0123456789abcdef";
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 15];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

// An activity item's name and index: "firmActKind___3___" gives firmActKind
// and 3.
bool ActivityItem(const UnicodeString& name, UnicodeString& field, std::size_t& index) {
  const std::size_t open = name.find(u"___");
  if (open == UnicodeString::npos || open == 0 || !name.ends_with(u"___")) return false;
  const std::size_t digitsAt = open + 3;
  const std::size_t digitsEnd = name.size() - 3;
  if (digitsEnd <= digitsAt) return false;
  std::size_t n = 0;
  for (std::size_t i = digitsAt; i < digitsEnd; ++i) {
    if (name[i] < u'0' || name[i] > u'9') return false;
    n = n * 10 + static_cast<std::size_t>(name[i] - u'0');
  }
  field = name.substr(0, open);
  index = n;
  return true;
}

struct Sections {
  std::vector<ResultItem> record;
  std::vector<ResultItem> error;
  std::vector<std::vector<ResultItem>> activities;
};

// The response record's items come first, the error record's start with
// errorDescr, the activities' carry their index in their names.
Sections Split(const std::vector<ResultItem>& items) {
  Sections s;
  bool inError = false;
  for (const ResultItem& item : items) {
    UnicodeString field;
    std::size_t index = 0;
    if (ActivityItem(item.first, field, index)) {
      if (s.activities.size() <= index) s.activities.resize(index + 1);
      s.activities[index].emplace_back(field, item.second);
      continue;
    }
    if (item.first == u"errorDescr") inError = true;
    (inError ? s.error : s.record).push_back(item);
  }
  return s;
}

bool IsConstantItem(const UnicodeString& name) {
  return name == u"DataContext" || name == u"SerializationOptions";
}

int RunLookup(const Options& o, CliIo& io) {
  if (!o.caFile.empty()) {
    if (!io.trustAuthority || !io.trustAuthority(o.caFile))
      return Usage(io, "no certificate authority could be read from " + o.caFile);
  }
  std::string password;
  if (o.passwordFile) {
    std::ifstream file(*o.passwordFile, std::ios::binary);
    if (!file) return Usage(io, "cannot read the password file " + *o.passwordFile);
    password = FirstLine(file);
  } else if (o.passwordStdin || !io.stdinIsTerminal) {
    password = FirstLine(io.in);
  } else {
    std::optional<std::string> typed =
        io.readSecret ? io.readSecret("Password for " + *o.user + ": ") : std::nullopt;
    if (!typed) return Usage(io, "cannot read the password from the terminal");
    password = *typed;
  }

  const std::string user = TerminalToUtf8(*o.user);
  password = TerminalToUtf8(password);
  const UnicodeString endpoint = platform::MultiByteToWideChar(platform::CP_ACP, 0, o.endpoint);
  const AnsiString text = lookup::Lookup(o.afmCalledBy.c_str(), o.afmCalledFor.c_str(),
                                         user.c_str(), password.c_str(), endpoint);
  bool failed = false;
  const UnicodeString decoded = DecodeLookupText(text.Bytes(), failed);
  if (failed) {
    // The sentence, then the failure's message after its line break.
    io.err << "delvan: the lookup failed: " << ToTerminal(decoded) << "\n";
    return ExitLookupFailed;
  }
  if (o.format == "raw") {
    io.out << ToTerminal(decoded) << "\n";
  } else {
    const std::vector<ResultItem> items = ParseResultItems(decoded);
    if (o.format == "json")
      io.out << ItemsToJson(items);
    else
      io.out << ToTerminal(ItemsToTable(items));
  }
  return ExitSuccess;
}

}  // namespace

UnicodeString DecodeLookupText(const std::string& bytes, bool& failed) {
  failed = bytes.starts_with(lookup::FailureSentence);
  if (!failed) return platform::MultiByteToWideChar(platform::CP_ACP, 0, bytes);
  UnicodeString text =
      platform::MultiByteToWideChar(platform::CP_GREEK, 0, lookup::FailureSentence);
  text += platform::MultiByteToWideChar(
      platform::CP_ACP, 0, std::string_view(bytes).substr(lookup::FailureSentence.size()));
  return text;
}

std::vector<ResultItem> ParseResultItems(UnicodeStringView text) {
  std::vector<ResultItem> items;
  if (text.empty()) return items;
  std::size_t i = 0;
  for (;;) {
    UnicodeString item;
    if (i < text.size() && text[i] == u'"') {
      // Quoted: up to the quote not doubled; "" stands for one quote.
      for (++i; i < text.size(); ++i) {
        if (text[i] == u'"') {
          if (i + 1 < text.size() && text[i + 1] == u'"') {
            item += u'"';
            ++i;
          } else {
            ++i;
            break;
          }
        } else {
          item += text[i];
        }
      }
      // Anything up to the separator belongs to the item as well.
      while (i < text.size() && text[i] != u';') item += text[i++];
    } else {
      const std::size_t end = std::min(text.find(u';', i), text.size());
      item.assign(text.substr(i, end - i));
      i = end;
    }
    const std::size_t eq = item.find(u'=');
    if (eq == UnicodeString::npos)
      items.emplace_back(item, UnicodeString());
    else
      items.emplace_back(item.substr(0, eq), item.substr(eq + 1));
    if (i >= text.size()) break;
    ++i;  // the separator
  }
  return items;
}

std::string ItemsToJson(const std::vector<ResultItem>& items) {
  const Sections s = Split(items);
  auto object = [](const std::vector<ResultItem>& list, const char* indent) {
    std::string out = "{";
    bool first = true;
    for (const ResultItem& item : list) {
      if (IsConstantItem(item.first)) continue;
      out += first ? "\n" : ",\n";
      out += indent;
      out += "  " + JsonString(item.first) + ": " + JsonString(item.second);
      first = false;
    }
    if (!first) {
      out += "\n";
      out += indent;
    }
    return out + "}";
  };
  std::string out = "{\n  \"record\": " + object(s.record, "  ") +
                    ",\n  \"error\": " + object(s.error, "  ") + ",\n  \"activities\": [";
  for (std::size_t i = 0; i < s.activities.size(); ++i) {
    out += i ? ",\n    " : "\n    ";
    out += object(s.activities[i], "    ");
  }
  out += s.activities.empty() ? "]\n}\n" : "\n  ]\n}\n";
  return out;
}

UnicodeString ItemsToTable(const std::vector<ResultItem>& items) {
  const Sections s = Split(items);
  auto pad = [](UnicodeString text, std::size_t width) {
    if (text.size() < width) text.append(width - text.size(), u' ');
    return text;
  };
  UnicodeString out;
  std::size_t width = 0;
  for (const auto* list : {&s.record, &s.error})
    for (const ResultItem& item : *list) width = std::max(width, item.first.size());
  for (const auto* list : {&s.record, &s.error})
    for (const ResultItem& item : *list) {
      if (IsConstantItem(item.first)) continue;
      UnicodeString line = pad(item.first, width);
      line += u"  ";
      line += item.second;
      while (!line.empty() && line.back() == u' ') line.pop_back();
      out += line;
      out += u'\n';
    }
  if (s.activities.empty()) return out;

  // Activities: one row each, under a header of their field names.
  std::vector<UnicodeString> columns{u"#"};
  for (const auto& activity : s.activities)
    for (const ResultItem& item : activity)
      if (std::find(columns.begin(), columns.end(), item.first) == columns.end())
        columns.push_back(item.first);
  std::vector<std::vector<UnicodeString>> rows;
  for (std::size_t i = 0; i < s.activities.size(); ++i) {
    std::vector<UnicodeString> row(columns.size());
    const std::string n = std::to_string(i);
    row[0] = UnicodeString(n.begin(), n.end());
    for (const ResultItem& item : s.activities[i]) {
      const auto at = std::find(columns.begin(), columns.end(), item.first) - columns.begin();
      row[static_cast<std::size_t>(at)] = item.second;
    }
    rows.push_back(std::move(row));
  }
  std::vector<std::size_t> widths(columns.size());
  for (std::size_t c = 0; c < columns.size(); ++c) {
    widths[c] = columns[c].size();
    for (const auto& row : rows) widths[c] = std::max(widths[c], row[c].size());
  }
  auto emit = [&](const std::vector<UnicodeString>& cells) {
    UnicodeString line;
    for (std::size_t c = 0; c < cells.size(); ++c) {
      if (c) line += u"  ";
      line += pad(cells[c], widths[c]);
    }
    while (!line.empty() && line.back() == u' ') line.pop_back();
    out += line;
    out += u'\n';
  };
  out += u'\n';
  emit(columns);
  for (const auto& row : rows) emit(row);
  return out;
}

int RunCli(const std::vector<std::string>& args, CliIo& io) {
  if (args.empty()) return Usage(io, "no command given");
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    io.out << kUsage;
    return ExitSuccess;
  }
  if (args[0] == "--version") {
    io.out << "delvan " DELVAN_VERSION "\n";
    return ExitSuccess;
  }
  if (args[0] != "lookup") return Usage(io, "unknown command '" + args[0] + "'");

  Options o;
  std::vector<std::string> positional;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& into) {
      if (i + 1 >= args.size()) return false;
      into = args[++i];
      return true;
    };
    std::string v;
    if (a == "--help" || a == "-h") {
      io.out << kUsage;
      return ExitSuccess;
    } else if (a == "--user") {
      if (!value(v)) return Usage(io, "--user needs a name");
      o.user = v;
    } else if (a == "--password-file") {
      if (!value(v)) return Usage(io, "--password-file needs a file");
      o.passwordFile = v;
    } else if (a == "--password-stdin") {
      o.passwordStdin = true;
    } else if (a == "--endpoint") {
      if (!value(o.endpoint) || o.endpoint.empty()) return Usage(io, "--endpoint needs a URL");
    } else if (a == "--ca-file") {
      if (!value(o.caFile) || o.caFile.empty()) return Usage(io, "--ca-file needs a file");
    } else if (a == "--format") {
      if (!value(o.format) || (o.format != "table" && o.format != "json" && o.format != "raw"))
        return Usage(io, "--format takes table, json or raw");
    } else if (a == "--password" || a.starts_with("--password=")) {
      return Usage(io,
                   "the password is not taken from the command line; use --password-file, "
                   "--password-stdin or the prompt");
    } else if (a.starts_with("--")) {
      return Usage(io, "unknown option '" + a + "'");
    } else {
      positional.push_back(a);
    }
  }
  if (positional.size() != 2)
    return Usage(io, "lookup takes two tax registration numbers: AFM_CALLED_BY AFM_CALLED_FOR");
  if (!o.user) return Usage(io, "--user is required");
  if (o.passwordFile && o.passwordStdin)
    return Usage(io, "--password-file and --password-stdin exclude each other");
  o.afmCalledBy = positional[0];
  o.afmCalledFor = positional[1];
  return RunLookup(o, io);
}

}  // namespace delvan::cli
