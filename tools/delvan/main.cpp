// delvan: the command-line lookup tool (see DelvanCli.h).
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "DelvanCli.h"
#include "lookup/LibraryInit.h"
#include "platform/HttpClientTestSeam.h"

namespace {

// Reads one line from the terminal with echo off; nullopt without a terminal.
std::optional<std::string> ReadSecret(const std::string& prompt) {
  FILE* tty = std::fopen("/dev/tty", "r+");
  if (!tty) return std::nullopt;
  const int fd = fileno(tty);
  termios saved{};
  const bool canHide = tcgetattr(fd, &saved) == 0;
  if (canHide) {
    termios quiet = saved;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    tcsetattr(fd, TCSAFLUSH, &quiet);
  }
  std::fputs(prompt.c_str(), tty);
  std::fflush(tty);
  std::string line;
  bool got = false;
  for (int c; (c = std::fgetc(tty)) != EOF;) {
    got = true;
    if (c == '\n') break;
    line += static_cast<char>(c);
  }
  if (canHide) tcsetattr(fd, TCSAFLUSH, &saved);
  std::fputs("\n", tty);
  std::fclose(tty);
  if (!got) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  delvan::InitializeLibrary();
  // --ca-file adds trust for this process only, through the HTTP client's
  // hook for extra authorities; the tool never reroutes a host.
  delvan::cli::CliIo io{
      std::cin,
      std::cout,
      std::cerr,
      isatty(STDIN_FILENO) == 1,
      ReadSecret,
      [](const std::string& path) { return delvan::platform::testing::TrustAuthorityFile(path); }};
  const int status = delvan::cli::RunCli(std::vector<std::string>(argv + 1, argv + argc), io);
  std::cout.flush();
  delvan::FinalizeLibrary();
  return status;
}
