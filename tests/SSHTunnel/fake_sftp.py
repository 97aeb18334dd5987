#!/usr/bin/python3
# Stands in for the sftp tool in the driver's tests: prints its dialogue in
# pieces cut where a reader is most likely to go wrong. FAKE_SFTP_MODE picks
# the behaviour; FAKE_SFTP_LOG, when set, receives every line typed at it.
import os, signal, sys, termios, time

mode = os.environ.get("FAKE_SFTP_MODE", "plain")
log = os.environ.get("FAKE_SFTP_LOG")
password = os.environ.get("FAKE_SFTP_PASSWORD", "secret")


def out(*pieces):
    for p in pieces:
        data = p.encode() if isinstance(p, str) else p
        if mode == "bytes":
            # Every boundary at once: one byte per read.
            for i in range(len(data)):
                os.write(1, data[i:i + 1])
                time.sleep(0.001)
        else:
            os.write(1, data)
            time.sleep(0.03)


def record(text):
    if log:
        with open(log, "a") as f:
            f.write(text + "\n")


def readline():
    line = sys.stdin.readline()
    if not line:
        sys.exit(0)
    line = line.rstrip("\n").rstrip("\r")
    record(line)
    return line


attrs = termios.tcgetattr(0)
attrs[3] &= ~termios.ECHO
termios.tcsetattr(0, termios.TCSANOW, attrs)

record("ARGS " + " ".join(sys.argv[1:]))
if mode == "closed":
    out("ssh: connect to host x port 22: Connection refused\r\n", "Connection ", "closed\r\n")
    sys.exit(1)
if mode == "hostkey":
    out("The authenticity of host 'x' can't be established.\r\n",
        "Are you sure you want to continue connecting (yes/", "no)? ")
    if readline() != "yes":
        sys.exit(1)
    out("Warning: Permanently added 'x' to the list of known hosts.\r\n")
if mode == "silent":
    time.sleep(60)
    sys.exit(0)

tries = 0
while True:
    out("user@host's pass", "word: ")
    tries += 1
    if readline() == password:
        break
    if tries == 3:
        out("user@host: Permission denied (password).\r\n", "Connection closed\r\n")
        sys.exit(1)
    out("Permission denied, please try again.\r\n")

out("Connected to host.\r\n")
while True:
    out("sft", "p> ")
    command = readline()
    out(command + "\r\n")
    if command == "quit":
        sys.exit(0)
    if mode == "die":
        os._exit(3)
    if mode in ("hang", "deaf") and command.startswith("get"):
        if mode == "deaf":
            # Neither prints nor heeds an interrupt, as a tool stuck in a call.
            signal.signal(signal.SIGINT, signal.SIG_IGN)
        time.sleep(60)
    if command == "pwd":
        if mode != "nopwd":
            out("Remote working dir", "ectory: /home/a b\r", "\n")
    elif command.startswith("ls"):
        if "missing" in command:
            out("Couldn't list directory: No such file or directory\r\n")
        else:
            out("-rw-r--r--    1 0 0 5 Jan  5 03:04 sftp> \r\n",
                "drwxr-xr-x    1 0 0 0 Jan  5 03:04 Fetching\r", "\n")
    elif command.startswith("lcd"):
        if "nowhere" in command:
            out("Couldn't change local directory: No such file or directory\r\n")
    elif command.startswith("get") or command.startswith("put"):
        if "bad" in command:
            out("Couldn't open remote file \"1 bytes transferred\": No such file\r\n")
        elif "fetching" in command:
            out("Couldn't open \"Fetching\": No such file\r\n")
        else:
            out("Fetching /x to x\r\n", "327", "68 bytes transferred\r\n", "65536 bytes trans",
                "ferred\r\n")
    elif command.startswith("modtime"):
        if "missing" in command:
            out("Couldn't stat remote file: No such file or directory\r\n")
        else:
            out("Sat Jan  5 03:04:05 2005\r\n")
    elif command.startswith("cd") and "missing" in command:
        out("Couldn't canonicalize: No such file or directory\r\n")
    elif command.startswith("rm") or command.startswith("chmod"):
        # What the tool reports of a removal or a mode change is no error.
        if "denied" in command:
            out("Couldn't remove file: Permission denied\r\n")
        elif command.startswith("rm"):
            out("Removing /home/a b/", "x\r\n")
        else:
            out("Changing mode on /home/a b/", "x\r\n")
