#!/usr/bin/python3
# A small SFTP version 3 server that misbehaves on purpose, run by the
# "sftpfault" sshd fixture as its sftp subsystem (stdin and stdout are the
# channel). It serves the real file system; the name of a file or folder
# picks the fault, so that tests running side by side never disturb each
# other:
#
#   cap-N-*          READ answers carry at most N bytes
#   cap-random-*     READ answers carry a random number of bytes (1..32768)
#   empty-*          READ answers are DATA with no bytes
#   stall-*          after OPEN, the server stops answering (a read is
#                    swallowed; for writes it stops reading altogether)
#   truncated-*      the first READ answer is cut in half, then silence
#   endless-*        (a folder) READDIR never ends
#   stalldir-*       (a folder) READDIR is never answered
#   longowner-*      (a folder) long names carry a 300-character owner
#   faildir-*        (a folder) READDIR fails after its first answer
#   small-N-*        STAT and FSTAT give a size N bytes short (the file
#                    grew since); big-N-* N bytes beyond it (it shrank)
#   hostile-realpath REALPATH answers with control characters; STAT of that
#                    answer says it is a folder
import os, random, select, stat, struct, sys, time

inp = sys.stdin.buffer.raw
out = sys.stdout.buffer.raw

HOSTILE = b"/\x1b[2J\r\nsftp> evil\x85\xc2\x9a\x7f"


def read_exact(n):
    data = b""
    while len(data) < n:
        chunk = inp.read(n - len(data))
        if not chunk:
            sys.exit(0)
        data += chunk
    return data


def send(data):
    while data:
        n = out.write(data)
        data = data[n:]


def packet(kind, body):
    return struct.pack(">IB", len(body) + 1, kind) + body


def s(data):
    return struct.pack(">I", len(data)) + data


def status(rid, code, text=b""):
    send(packet(101, struct.pack(">II", rid, code) + s(text) + s(b"")))


def attrs(st, fault=b""):
    size = st.st_size
    if fault.startswith(b"small-"):
        size = max(0, size - int(fault.split(b"-")[1]))
    elif fault.startswith(b"big-"):
        size += int(fault.split(b"-")[1])
    return struct.pack(">IQIIIII", 0xF, size, st.st_uid, st.st_gid, st.st_mode,
                       int(st.st_atime), int(st.st_mtime))


def swallow_forever():
    # Reads and drops everything until the client goes away.
    while inp.read(65536):
        pass
    sys.exit(0)


def stop_reading():
    # Neither reads nor answers; ends once the channel closes (or after a
    # minute, so that nothing is left behind).
    select.select([], [], [inp], 60)
    time.sleep(0)
    sys.exit(0)


class Reader:
    def __init__(self, data):
        self.data, self.at = data, 0

    def u32(self):
        v = struct.unpack_from(">I", self.data, self.at)[0]
        self.at += 4
        return v

    def u64(self):
        v = struct.unpack_from(">Q", self.data, self.at)[0]
        self.at += 8
        return v

    def str(self):
        n = self.u32()
        v = self.data[self.at:self.at + n]
        self.at += n
        return v


cwd = os.getcwd().encode()
handles = {}
next_handle = 0
rng = random.Random(7)


def full(path):
    return os.path.normpath(os.path.join(cwd, path)) if path else cwd


def fault_of(path):
    return os.path.basename(path)


def longname(name, st, owner):
    mode = stat.filemode(st.st_mode).encode()
    return b"%s %3d %-8s %-8s %8d Jan  1 00:00 %s" % (mode, st.st_nlink, owner, b"group",
                                                      st.st_size, name)


def main():
    global next_handle
    while True:
        length = struct.unpack(">I", read_exact(4))[0]
        body = read_exact(length)
        kind = body[0]
        r = Reader(body[1:])
        if kind == 1:  # INIT
            send(packet(2, struct.pack(">I", 3)))
            continue
        rid = r.u32()
        try:
            if kind == 16:  # REALPATH
                p = r.str()
                if fault_of(p) == b"hostile-realpath":
                    name = HOSTILE
                else:
                    name = full(p)
                send(packet(104, struct.pack(">II", rid, 1) + s(name) + s(name) +
                            struct.pack(">I", 0)))
            elif kind in (7, 17):  # LSTAT, STAT
                p = r.str()
                if b"\x1b" in p:
                    send(packet(105, struct.pack(">I", rid) +
                                struct.pack(">II", 4, 0o40755)))
                    continue
                st = os.lstat(full(p)) if kind == 7 else os.stat(full(p))
                send(packet(105, struct.pack(">I", rid) + attrs(st, fault_of(p))))
            elif kind == 8:  # FSTAT
                h = handles[r.str()]
                send(packet(105, struct.pack(">I", rid) + attrs(os.fstat(h["fd"]), h["fault"])))
            elif kind == 3:  # OPEN
                p = full(r.str())
                pflags = r.u32()
                flags = os.O_RDONLY
                if pflags & 2:
                    flags = os.O_RDWR if pflags & 1 else os.O_WRONLY
                if pflags & 8:
                    flags |= os.O_CREAT
                if pflags & 0x10:
                    flags |= os.O_TRUNC
                fd = os.open(p, flags, 0o644)
                key = b"h%d" % next_handle
                next_handle += 1
                handles[key] = {"fd": fd, "fault": fault_of(p)}
                send(packet(102, struct.pack(">I", rid) + s(key)))
            elif kind == 11:  # OPENDIR
                p = full(r.str())
                names = [b".", b".."] + sorted(os.listdir(p))
                key = b"d%d" % next_handle
                next_handle += 1
                handles[key] = {"dir": p, "names": names, "fault": fault_of(p), "count": 0}
                send(packet(102, struct.pack(">I", rid) + s(key)))
            elif kind == 12:  # READDIR
                h = handles[r.str()]
                fault = h["fault"]
                if fault.startswith(b"stalldir-"):
                    swallow_forever()
                if fault.startswith(b"endless-"):
                    entries = b""
                    for _ in range(1000):
                        h["count"] += 1
                        name = b"file-%012d" % h["count"]
                        entries += s(name) + s(b"-rw-r--r--    1 u        g               0 "
                                               b"Jan  1 00:00 " + name) + struct.pack(">I", 0)
                    send(packet(104, struct.pack(">II", rid, 1000) + entries))
                    continue
                if fault.startswith(b"faildir-") and h["count"]:
                    status(rid, 4, b"Failure")
                    continue
                h["count"] += 1
                if not h["names"]:
                    status(rid, 1, b"End of file")
                    continue
                entries = b""
                batch, h["names"] = h["names"][:100], h["names"][100:]
                owner = b"o" * 300 if fault.startswith(b"longowner-") else b"owner"
                for name in batch:
                    st = os.lstat(os.path.join(h["dir"], name))
                    entries += s(name) + s(longname(name, st, owner)) + attrs(st)
                send(packet(104, struct.pack(">II", rid, len(batch)) + entries))
            elif kind == 5:  # READ
                h = handles[r.str()]
                offset, size = r.u64(), r.u32()
                fault = h["fault"]
                if fault.startswith(b"stall-"):
                    swallow_forever()
                data = os.pread(h["fd"], size, offset)
                if not data:
                    status(rid, 1, b"End of file")
                    continue
                if fault.startswith(b"cap-random-"):
                    data = data[:rng.randint(1, 32768)]
                elif fault.startswith(b"cap-"):
                    data = data[:int(fault.split(b"-")[1])]
                elif fault.startswith(b"empty-"):
                    data = b""
                reply = packet(103, struct.pack(">I", rid) + s(data))
                if fault.startswith(b"truncated-"):
                    send(reply[:len(reply) // 2])
                    swallow_forever()
                send(reply)
            elif kind == 6:  # WRITE
                h = handles[r.str()]
                offset = r.u64()
                data = r.str()
                if h["fault"].startswith(b"stall-"):
                    stop_reading()
                os.pwrite(h["fd"], data, offset)
                status(rid, 0)
            elif kind == 4:  # CLOSE
                h = handles.pop(r.str())
                if "fd" in h:
                    os.close(h["fd"])
                status(rid, 0)
            elif kind in (9, 10):  # SETSTAT, FSETSTAT
                status(rid, 0)
            elif kind == 13:  # REMOVE
                os.unlink(full(r.str()))
                status(rid, 0)
            elif kind == 14:  # MKDIR
                os.mkdir(full(r.str()))
                status(rid, 0)
            elif kind == 15:  # RMDIR
                os.rmdir(full(r.str()))
                status(rid, 0)
            elif kind == 18:  # RENAME: as version 3 has it, never onto an existing name
                a = full(r.str())
                b = full(r.str())
                if os.path.lexists(b):
                    status(rid, 4, b"Failure")
                    continue
                os.rename(a, b)
                status(rid, 0)
            else:
                status(rid, 8, b"Operation unsupported")
        except FileNotFoundError:
            status(rid, 2, b"No such file")
        except PermissionError:
            status(rid, 3, b"Permission denied")
        except (OSError, KeyError, struct.error):
            status(rid, 4, b"Failure")


main()
