#include "tools/sftp/client.h"

#include "engine/UploadPart.h"
#include "tools/sftp/client_internal.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace sftptool {

using namespace sftp;

namespace {

// A server that keeps sending names must not fill the memory: a listing
// stops with an error at this many names or bytes of names.
constexpr size_t kMaxListNames = 200000;
constexpr size_t kMaxListBytes = size_t(32) << 20;

} // namespace

void Client::execute(const std::string& command) {
    std::vector<Word> w;
    std::string error;
    if (!splitWords(command, w, error)) {
        mTerm.line(error);
        return;
    }
    if (w.empty())
        return;
    const std::string verb = w[0].quoted ? std::string() : w[0].text;
    const size_t args = w.size() - 1;
    auto usage = [&](const char* text) { mTerm.line(std::string("Usage: ") + text); };

    if (verb == "quit" || verb == "exit" || verb == "bye") {
        if (args)
            return usage("quit");
        ssh_disconnect(mSession);
        finish(0);
    } else if (verb == "cd") {
        args == 1 ? doCd(w) : usage("cd remote-folder");
    } else if (verb == "pwd") {
        args == 0 ? mTerm.line("Remote working directory: " + printable(mCwd)) : usage("pwd");
    } else if (verb == "lcd") {
        if (args != 1)
            return usage("lcd local-folder");
        if (chdir(w[1].text.c_str()) != 0)
            mTerm.line(std::string("Couldn't change local directory: ") + std::strerror(errno));
    } else if (verb == "lpwd") {
        char buf[4096];
        if (args != 0)
            return usage("lpwd");
        if (getcwd(buf, sizeof buf))
            mTerm.line(std::string("Local working directory: ") + buf);
        else
            mTerm.line(std::string("Couldn't read local directory: ") + std::strerror(errno));
    } else if (verb == "ls" || verb == "dir") {
        doLs(w);
    } else if (verb == "get") {
        args == 1 || args == 2 ? doGet(w) : usage("get remote-file [local-file]");
    } else if (verb == "put") {
        args == 1 || args == 2 ? doPut(w) : usage("put local-file [remote-file]");
    } else if (verb == "rest") {
        uint64_t offset = 0;
        if (args != 1 || !parseOffset(w[1].text, offset))
            return usage("rest byte-offset");
        mRest = offset;
        mHaveRest = true;
    } else if (verb == "modtime") {
        args >= 1 ? doModTime(w) : usage("modtime remote-path");
    } else if (verb == "mkdir" || verb == "rmdir" || verb == "rm" || verb == "rename" ||
               verb == "chmod") {
        doSimple(verb, w);
    } else if (verb == "help" || verb == "?") {
        static const char* const lines[] = {
            "Available commands:",
            "cd folder                 Change the remote folder",
            "chmod mode path           Change the permissions of a remote file",
            "get remote [local]        Download a file",
            "lcd folder                Change the local folder",
            "lpwd                      Show the local folder",
            "ls [-l] [-a] [path]       List a remote folder",
            "mkdir path                Create a remote folder",
            "modtime path              Show the modification time of a remote file",
            "put local [remote]        Upload a file",
            "pwd                       Show the remote folder",
            "quit                      Leave",
            "rename [-f] old new       Rename a remote file; -f replaces a file at new",
            "rest offset               Start the next get or put at this byte offset",
            "rm path                   Delete a remote file",
            "rmdir path                Delete a remote folder",
            "Names with blanks go in double quotes; inside them \\\" and \\\\ stand for",
            "a quote and a backslash."};
        for (const char* l : lines)
            mTerm.line(l);
    } else {
        mTerm.line("Invalid command.");
    }
}

void Client::doCd(const std::vector<Word>& w) {
    std::string resolved, error;
    Attributes a;
    if (!realPath(remotePath(mCwd, w[1].text), resolved, error) ||
        !stat(resolved, a, Stat, error)) {
        mTerm.line("Couldn't change directory: " + error);
        return;
    }
    if ((a.flags & HasPermissions) && !a.isDirectory()) {
        mTerm.line("Couldn't change directory: Not a directory");
        return;
    }
    mCwd = resolved;
}

namespace {

ListEntry entryFrom(const std::string& name, const Attributes& a, const std::string& longName) {
    ListEntry e;
    e.name = name;
    e.mode = (a.flags & HasPermissions) ? a.permissions : 0100000;
    e.size = (a.flags & HasSize) ? a.size : 0;
    e.mtime = (a.flags & HasTimes) ? time_t(a.mtime) : 0;
    if (!ownerFromLongName(longName, e.size, e)) {
        const bool ids = a.flags & HasIds;
        e.owner = ids ? std::to_string(a.uid) : "?";
        e.group = ids ? std::to_string(a.gid) : "?";
    }
    return e;
}

} // namespace

void Client::doLs(const std::vector<Word>& w) {
    bool all = false, optionsDone = false;
    const Word* target = nullptr;
    for (size_t i = 1; i < w.size(); ++i) {
        const std::string& t = w[i].text;
        if (!optionsDone && !w[i].quoted && t == "--") {
            optionsDone = true;
        } else if (!optionsDone && !w[i].quoted && t.size() > 1 && t[0] == '-' &&
                   t.find_first_not_of("la1", 1) == std::string::npos) {
            all = all || t.find('a') != std::string::npos;
        } else if (!target) {
            target = &w[i];
            optionsDone = true;
        } else {
            mTerm.line("Usage: ls [-l] [-a] [path]");
            return;
        }
    }
    const std::string path = target ? remotePath(mCwd, target->text) : mCwd;
    std::string prefix, error, handle;
    // A named path is looked at and opened as a folder in one round trip;
    // what the look says decides, whatever the open did.
    Packet openIt(Opendir, nextId());
    openIt.str(path);
    Packet statIt(Stat, nextId());
    statIt.str(path);
    Asked asked[2] = {{&openIt, Handle, {}, {}}, {&statIt, Attrs, {}, {}}};
    requests(asked, target ? 2 : 1);
    if (asked[0].ok) {
        Reader r(asked[0].reply);
        handle = std::string(r.str());
        if (!r.ok()) {
            handle.clear();
            asked[0].ok = false;
            asked[0].error = "Bad message";
        }
    }
    if (target) {
        prefix = target->text;
        if (!prefix.empty() && prefix.back() != '/')
            prefix += '/';
        Attributes a;
        if (asked[1].ok) {
            Reader r(asked[1].reply);
            a = r.attrs();
            if (!r.ok()) {
                asked[1].ok = false;
                asked[1].error = "Bad message";
            }
        }
        if (!asked[1].ok || ((a.flags & HasPermissions) && !a.isDirectory())) {
            if (!handle.empty())
                closeUnanswered(handle);
            if (!asked[1].ok) {
                mTerm.line("Couldn't list directory: " + asked[1].error);
                return;
            }
            // A single file: one line under the name as given.
            Attributes l;
            std::string ignored;
            if (stat(path, l, Lstat, ignored))
                a = l;
            mTerm.line(longListingLine(entryFrom(target->text, a, ""), time(nullptr)));
            return;
        }
    }
    if (handle.empty()) {
        mTerm.line("Couldn't list directory: " + asked[0].error);
        return;
    }
    // Two reads are asked at a time: a small folder comes whole with its end
    // in one round trip. Once one says the end (whichever the server took
    // first), every name has come.
    std::vector<ListEntry> entries;
    size_t names = 0, bytes = 0;
    for (bool more = true; more;) {
        if (interruptRequested()) {
            error = "Interrupted";
            break;
        }
        Packet reads[2] = {Packet(Readdir, nextId()), Packet(Readdir, nextId())};
        Asked round[2] = {{&reads[0], Name, {}, {}}, {&reads[1], Name, {}, {}}};
        for (Packet& p : reads)
            p.str(handle);
        requests(round, 2);
        for (Asked& one : round) {
            if (!one.ok) {
                if (one.error != statusText(Eof) && error.empty())
                    error = one.error;
                more = false;
                continue;
            }
            Reader r(one.reply);
            for (uint32_t n = r.u32(); n > 0 && r.ok(); --n) {
                const std::string name(r.str());
                const std::string longName(r.str());
                const Attributes a = r.attrs();
                if (r.ok() && !name.empty() && (all || name[0] != '.'))
                    entries.push_back(entryFrom(name, a, longName));
                ++names;
                bytes += name.size() + longName.size();
            }
            if (!r.ok() && error.empty()) {
                error = "Bad message";
                more = false;
            }
        }
        if (!error.empty()) {
            more = false;
        } else if (names > kMaxListNames) {
            error = "the folder holds more than " + std::to_string(kMaxListNames) + " names";
            more = false;
        } else if (bytes > kMaxListBytes) {
            error = "the listing is larger than " + std::to_string(kMaxListBytes >> 20) + " MiB";
            more = false;
        }
    }
    closeUnanswered(handle);
    if (!error.empty()) {
        mTerm.line("Couldn't list directory: " + error);
        return;
    }
    std::sort(entries.begin(), entries.end(),
              [](const ListEntry& a, const ListEntry& b) { return a.name < b.name; });
    const time_t now = time(nullptr);
    std::string out;
    for (ListEntry& e : entries) {
        e.name = prefix + e.name;
        out += longListingLine(e, now) + mTerm.eol();
    }
    mTerm.write(out);
}

void Client::doModTime(const std::vector<Word>& w) {
    // Several names are asked at once, so their dates cost one round trip;
    // each gets the line the single-name form prints, in the order given.
    const size_t count = w.size() - 1;
    std::vector<Packet> packets;
    packets.reserve(count);
    std::vector<Asked> asked(count);
    for (size_t i = 0; i < count; ++i) {
        packets.emplace_back(Stat, nextId());
        packets.back().str(remotePath(mCwd, w[i + 1].text));
        asked[i].packet = &packets.back();
        asked[i].want = Attrs;
    }
    requests(asked.data(), count);
    std::string out;
    for (Asked& a : asked) {
        Attributes attrs;
        std::string error = std::move(a.error);
        if (a.ok) {
            Reader r(a.reply);
            attrs = r.attrs();
            if (!r.ok())
                error = "Bad message";
        }
        if (!error.empty())
            out += "Couldn't read the modification time: " + error;
        else if (!(attrs.flags & HasTimes))
            out += "Couldn't read the modification time: the server did not send it";
        else
            out += modTimeText(time_t(attrs.mtime));
        out += mTerm.eol();
    }
    mTerm.write(out);
}

bool Client::renameSettingAside(const std::string& from, const std::string& to, bool& ok,
                                std::string& error) {
    Attributes a;
    std::string ignored;
    // Only a file or a link is set aside; a folder is never moved or removed.
    if (to.empty() || to.back() == '/' || !stat(to, a, Lstat, ignored) ||
        !(a.flags & HasPermissions))
        return false;
    const uint32_t type = a.permissions & 0170000;
    if ((type != 0100000 && type != 0120000) || !stat(from, a, Lstat, ignored))
        return false;
    // A hidden name of our own that nothing uses yet: one of the program's
    // temporary upload names, so that a synchronisation that meets one left
    // by a dropped link knows it for a leftover of `to`.
    const std::string aside = UploadPartName(to);
    std::string why;
    if (stat(aside, a, Lstat, why) || why != statusText(NoSuchFile))
        return false;
    Packet away(Rename, nextId());
    away.str(to).str(aside);
    if (!simple(away, ignored))
        return false; // the file stays where it was; the first refusal stands

    // From here a dropped link leaves the old file under the set-aside name
    // (and the new one either at its old path or already in place): the one
    // state a cut leaves, and nothing is lost.
    Packet again(Rename, nextId());
    again.str(from).str(to);
    if (simple(again, why)) {
        // Should the server keep the old copy, it stays hidden beside the
        // new file: the replace itself is done.
        Packet remove(Remove, nextId());
        remove.str(aside);
        simple(remove, ignored);
        ok = true;
        return true;
    }
    // Refused with nothing in its way: this is the reason to give.
    ok = false;
    error = why;
    Packet back(Rename, nextId());
    back.str(aside).str(to);
    if (!simple(back, ignored))
        error += " (the file at \"" + to + "\" is kept as \"" + aside + "\")";
    return true;
}

void Client::doSimple(const std::string& verb, const std::vector<Word>& w) {
    const size_t args = w.size() - 1;
    std::string what, error;
    bool ok = true;
    if (verb == "mkdir" || verb == "rmdir" || verb == "rm") {
        if (args != 1) {
            mTerm.line("Usage: " + verb + " remote-path");
            return;
        }
        const std::string path = remotePath(mCwd, w[1].text);
        if (verb == "mkdir") {
            what = "Couldn't create directory: ";
            Attributes a;
            a.flags = HasPermissions;
            a.permissions = 0777;
            Packet p(Mkdir, nextId());
            p.str(path).attrs(a);
            ok = simple(p, error);
        } else {
            what = verb == "rm" ? "Couldn't delete file: " : "Couldn't remove directory: ";
            Packet p(verb == "rm" ? Remove : Rmdir, nextId());
            p.str(path);
            ok = simple(p, error);
        }
    } else if (verb == "rename") {
        // -f: over a file that stands at the new path, where the server can.
        const bool replace = args == 3 && !w[1].quoted && w[1].text == "-f";
        if (args != 2 && !replace) {
            mTerm.line("Usage: rename [-f] old-path new-path");
            return;
        }
        what = "Couldn't rename file: ";
        const std::string from = remotePath(mCwd, w[replace ? 2 : 1].text);
        const std::string to = remotePath(mCwd, w[replace ? 3 : 2].text);
        if (replace && mPosixRename) {
            Packet p(Extended, nextId());
            p.str(kPosixRename).str(from).str(to);
            ok = simple(p, error);
        } else {
            Packet p(Rename, nextId());
            p.str(from).str(to);
            ok = simple(p, error);
            // A server that renames only onto a free name: the rename is tried
            // again with the file at the new path set aside.
            const bool retried = !ok && replace && renameSettingAside(from, to, ok, error);
            Attributes there;
            std::string ignored;
            // Servers refuse a rename onto an existing name with a bare
            // "Failure"; say what stands in the way.
            if (!ok && !retried && error == statusText(Failure) && stat(to, there, Lstat, ignored))
                error = "\"" + w[replace ? 3 : 2].text + "\" already exists";
        }
    } else { // chmod
        unsigned mode = 0;
        if (args != 2 || !parseMode(w[1].text, mode)) {
            mTerm.line("Usage: chmod octal-mode remote-path");
            return;
        }
        what = "Couldn't change mode: ";
        Attributes a;
        a.flags = HasPermissions;
        a.permissions = mode;
        Packet p(Setstat, nextId());
        p.str(remotePath(mCwd, w[2].text)).attrs(a);
        ok = simple(p, error);
    }
    if (!ok)
        mTerm.line(what + error);
}

} // namespace sftptool
