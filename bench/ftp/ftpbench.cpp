// ftpbench HOST PORT USER PASSWORD get REMOTE LOCAL
// ftpbench HOST PORT USER PASSWORD put LOCAL REMOTE
// ftpbench HOST PORT USER PASSWORD many FOLDER LOCALDIR  (gets FOLDER/f0000 ... f0999)
// ftpbench HOST PORT USER PASSWORD putmany LOCALDIR FOLDER  (puts f0000 ... f0999)
// One FTP session of the engine, passive mode, binary; exits 0 on success.
#include "engine/FTPEngine.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc != 8) {
        std::fprintf(stderr, "usage: ftpbench HOST PORT USER PASSWORD get|put|many|putmany A B\n");
        return 2;
    }
    const std::string mode = argv[5];
    FTPEngine engine;
    if (!engine.Connect(argv[1], std::atoi(argv[2]), 60) ||
        !engine.Authenticate(argv[3], argv[4], "")) {
        std::fprintf(stderr, "login: %s\n", engine.GetLastError());
        return 1;
    }
    bool ok = false;
    if (mode == "get") {
        ok = engine.GetFile(argv[6], argv[7], 0, false, true);
    } else if (mode == "put") {
        ok = engine.PutFile(argv[7], argv[6], 0, false, true);
    } else if (mode == "many") {
        ok = engine.ChangeDir(argv[6]);
        for (int i = 0; i < 1000 && ok; ++i) {
            char name[32];
            std::snprintf(name, sizeof(name), "f%04d", i);
            ok = engine.GetFile(name, std::string(argv[7]) + "/" + name, 0, false, true);
        }
    } else if (mode == "putmany") {
        ok = engine.ChangeDir(argv[7]);
        for (int i = 0; i < 1000 && ok; ++i) {
            char name[32];
            std::snprintf(name, sizeof(name), "f%04d", i);
            ok = engine.PutFile(name, std::string(argv[6]) + "/" + name, 0, false, true);
        }
    }
    if (!ok)
        std::fprintf(stderr, "%s: %s\n", mode.c_str(), engine.GetLastError());
    engine.SendCommand("QUIT");
    engine.Disconnect();
    return ok ? 0 : 1;
}
