#pragma once
// lftp timed by its own clock: a script logs in to a test server (untimed),
// changes to a folder, then runs one command between two time stamps.
#include "tests/support/servers.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace benchlftp {

// Writes the script to PATH: SETTINGS (lines of "set ..."), the login on
// SERVER ("sshd" over SFTP, any other over FTP, passive), "cd FOLDER", then
// COMMAND between the stamps.
inline void WriteScript(const std::string& path, const std::string& server,
                        const std::string& settings, const std::string& folder,
                        const std::string& command) {
    std::ofstream out(path);
    const testsupport::TestServer s = testsupport::testServer(server);
    out << "set cmd:fail-exit yes\nset net:max-retries 1\n" << settings;
    if (server == "sshd")
        out << "set sftp:connect-program \"ssh -a -x -o StrictHostKeyChecking=no -o "
               "UserKnownHostsFile=/dev/null\"\n"
            << "open -u " << s.user << "," << s.password << " sftp://" << s.host << ":" << s.port
            << "\n";
    else
        out << "set ftp:passive-mode on\n"
            << "open -u " << s.user << "," << s.password << " ftp://" << s.host << ":" << s.port
            << "\n";
    out << "cd " << folder << "\n"
        << "!echo T $(date +%s.%N)\n"
        << command << "\n"
        << "!echo T $(date +%s.%N)\n";
}

// Runs the script at PATH: the seconds between its stamps, or -1 when lftp
// failed (OUTPUT then says why).
inline double Run(const std::string& path, std::string& output) {
    const std::string line = "lftp -f '" + path + "' 2>&1";
    FILE* out = ::popen(line.c_str(), "r");
    if (!out)
        return -1;
    std::vector<double> stamps;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, out)) {
        output += buffer;
        if (buffer[0] == 'T' && buffer[1] == ' ')
            stamps.push_back(std::strtod(buffer + 2, nullptr));
    }
    if (::pclose(out) != 0 || stamps.size() != 2)
        return -1;
    return stamps[1] - stamps[0];
}

} // namespace benchlftp
