#pragma once
// Server texts as the windows show them, shared by the browser and the
// synchronisation run.
#include <string>

// Removes a leading FTP reply code ("550 " or "550-") together with every
// later occurrence of the same four characters; other texts stay as they are.
std::string StripReplyCode(const std::string& text);

// What the redial sheet says after a failed connection attempt, and whether
// it may redial by itself: a refused login or a changed host key would only
// fail again, and repeated logins may lock the account.
struct ConnectFailure {
    std::string message;
    bool redialByItself;
};
ConnectFailure DescribeConnectFailure(const std::string& error, const std::string& user);
