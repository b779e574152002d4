// registry-mock: runs the mock registry service on 127.0.0.1 until it is
// interrupted (or its standard input closes, with --until-eof). Prints the
// endpoint URL and the file of its test certificate authority.
#include <signal.h>

#include <cstring>
#include <iostream>
#include <map>
#include <string>

#include "RegistryMock.h"

namespace {

void Usage() {
  std::cerr
      << "usage: registry-mock [--http] [--expired-certificate] [--require-client-certificate]\n"
         "                     [--user NAME] [--password TEXT] [--behaviour NAME] [--delay-ms N]\n"
         "                     [--until-eof]\n"
         "behaviours: normal not-found no-content-type slow huge huge-chunked truncated-body "
         "connection-reset basic-auth redirect drip drip-body\n";
}

}  // namespace

int main(int argc, char** argv) {
  using delvan::registrymock::Behaviour;
  const std::map<std::string, Behaviour> behaviours{
      {"normal", Behaviour::Normal},
      {"not-found", Behaviour::NotFound},
      {"no-content-type", Behaviour::NoContentType},
      {"slow", Behaviour::Slow},
      {"huge", Behaviour::Huge},
      {"huge-chunked", Behaviour::HugeChunked},
      {"truncated-body", Behaviour::TruncatedBody},
      {"connection-reset", Behaviour::ConnectionReset},
      {"basic-auth", Behaviour::BasicAuth},
      {"redirect", Behaviour::Redirect},
      {"drip", Behaviour::Drip},
      {"drip-body", Behaviour::DripBody},
  };
  delvan::registrymock::RegistryMockOptions options;
  Behaviour behaviour = Behaviour::Normal;
  long delayMs = -1;
  bool untilEof = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--help") {
      Usage();
      return 0;
    } else if (arg == "--http") {
      options.tls = false;
    } else if (arg == "--expired-certificate") {
      options.expiredCertificate = true;
    } else if (arg == "--require-client-certificate") {
      options.requireClientCertificate = true;
    } else if (arg == "--until-eof") {
      untilEof = true;
    } else if (arg == "--user" && hasValue) {
      options.userName = argv[++i];
    } else if (arg == "--password" && hasValue) {
      options.password = argv[++i];
    } else if (arg == "--delay-ms" && hasValue) {
      delayMs = std::strtol(argv[++i], nullptr, 10);
    } else if (arg == "--behaviour" && hasValue && behaviours.contains(argv[i + 1])) {
      behaviour = behaviours.at(argv[++i]);
    } else {
      Usage();
      return 2;
    }
  }

  // The signals are taken by sigwait below, not by a handler.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);

  try {
    delvan::registrymock::RegistryMock mock(options);
    mock.SetBehaviour(behaviour);
    if (delayMs >= 0) mock.SetDelay(std::chrono::milliseconds(delayMs));
    std::cout << "url=" << mock.Url() << "\n"
              << "port=" << mock.Port() << "\n"
              << "authority=" << mock.AuthorityFile() << "\n"
              << std::flush;
    if (untilEof) {
      pthread_sigmask(SIG_UNBLOCK, &stop, nullptr);
      std::string line;
      while (std::getline(std::cin, line)) {
      }
    } else {
      int signal = 0;
      sigwait(&stop, &signal);
    }
    std::cout << "requests=" << mock.Requests().size() << " connections=" << mock.ConnectionCount()
              << " resumed=" << mock.ResumedSessionCount() << "\n";
  } catch (const std::exception& e) {
    std::cerr << "registry-mock: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
