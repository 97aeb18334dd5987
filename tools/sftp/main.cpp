// sftp: the command-line SFTP client that Zarvel drives in a pseudo-terminal.
//
//   sftp [-oCheckHostIP=no] [-oProtocol=2,1] [-oPort=N] user@host
//
// It asks about unknown host keys, refuses changed ones, asks for the
// password, then reads commands at the "sftp> " prompt.
#include "tools/sftp/client.h"

#include <cstdio>

int main(int argc, char** argv) {
    using namespace sftptool;
    installSignals();
    std::vector<std::string> args(argv + 1, argv + argc);
    Destination dest;
    const std::string error = parseArguments(args, dest);
    if (!error.empty()) {
        std::fprintf(stderr, "sftp: %s\r\nusage: sftp [-oPort=N] user@host\r\n", error.c_str());
        return 2;
    }
    Terminal term;
    term.setup();
    Client client(term, dest);
    client.connect();
    client.run();
}
