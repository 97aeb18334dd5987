#include "browser/core/ServerText.h"

#include "engine/Connection.h"

std::string StripReplyCode(const std::string& text) {
    if (text.size() <= 4)
        return text;
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (!digit(text[0]) || !digit(text[1]) || !digit(text[2]) || (text[3] != ' ' && text[3] != '-'))
        return text;
    const std::string code = text.substr(0, 4);
    std::string out = text;
    for (size_t at = out.find(code); at != std::string::npos; at = out.find(code))
        out.erase(at, code.size());
    return out;
}

ConnectFailure DescribeConnectFailure(const std::string& error, const std::string& user) {
    std::string message = StripReplyCode(error);
    const LoginRefusal refusal = LoginRefusalOf(error);
    if (refusal == LoginRefusal::kCredentials)
        message = "The server refused the login as \"" + user + "\":\n" + message +
                  "\n\nCheck the user name and password. The same login is not tried "
                  "again by itself, as servers may lock an account after repeated failures.";
    else if (refusal == LoginRefusal::kHostKey)
        message += "\n\nIf the server's key was changed on purpose, remove the old key and "
                   "redial; otherwise someone may be posing as the server.";
    else if (message == "Server closed connection" || message == "Could not connect to server")
        message = "Make sure you typed the address and port of the remote server correctly.\n"
                  "If you continue to have problems connecting, please contact the server "
                  "administrator.\n";
    return {message, refusal == LoginRefusal::kNone};
}
