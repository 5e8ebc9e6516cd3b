#!/usr/bin/env python3
"""Helpers for bench/run: data sets, the raw loopback copy, filling the
server's event log through the protocol, timing and the result table.

Every sub-command prints its result on standard output and exits non-zero
on failure; bench/run does the orchestration.
"""

import os
import random
import socket
import statistics
import subprocess
import sys
import threading
import time

# Every generated file and folder carries this modification time (an even
# second, so that two-second file-time granularity loses nothing).
BASE_TIME = 1767268800  # 2026-01-01 12:00:00 UTC


def make_project(root, folders, files_per_folder, seed, smallest=200, largest=2048):
    """`folders` folders under `root`, each with `files_per_folder` files of
    `smallest` to `largest` bytes (200 B to 2 KB unless given). Names mix
    letter case so that collation matters."""
    if os.path.isdir(root) and os.path.exists(os.path.join(root, ".complete")):
        return
    rng = random.Random(seed)
    pool = rng.randbytes(1 << 16)
    os.makedirs(root, exist_ok=True)
    for d in range(folders):
        folder = os.path.join(root, "Mapa_%04d" % d if d % 2 else "mapa_%04d" % d)
        os.makedirs(folder, exist_ok=True)
        for f in range(files_per_folder):
            name = ("Datoteka_%03d.txt" if f % 3 == 0 else "datoteka_%03d.dat") % f
            size = rng.randint(smallest, largest)
            start = rng.randint(0, len(pool) - size)
            path = os.path.join(folder, name)
            with open(path, "wb") as out:
                out.write(pool[start:start + size])
            os.utime(path, (BASE_TIME, BASE_TIME + 2 * f))
        os.utime(folder, (BASE_TIME, BASE_TIME))
    open(os.path.join(root, ".complete"), "w").close()


def make_empty_project(root, folders, files_per_folder):
    """`folders` folders under `root`, each with `files_per_folder` empty
    files: the scale test, where the count of entries is all that matters."""
    if os.path.isdir(root) and os.path.exists(os.path.join(root, ".complete")):
        return
    os.makedirs(root, exist_ok=True)
    for d in range(folders):
        folder = os.path.join(root, "mapa_%05d" % d)
        os.makedirs(folder, exist_ok=True)
        for f in range(files_per_folder):
            path = os.path.join(folder, "datoteka_%03d" % f)
            open(path, "wb").close()
            os.utime(path, (BASE_TIME, BASE_TIME))
        os.utime(folder, (BASE_TIME, BASE_TIME))
    open(os.path.join(root, ".complete"), "w").close()


def change_files(root, files, folders, round_):
    """Rewrites `files` regular files (not links), spread over `folders`
    folders of `root` that each hold enough of them, with new content and a
    time of their own: the change a busy project sees between two syncs.
    The folders are looked for below each top folder in turn, starting at a
    different one each round, so that rounds change different folders."""
    per = max(1, files // folders)
    tops = sorted(e.name for e in os.scandir(root) if e.is_dir(follow_symlinks=False))
    start = (round_ * 7919) % len(tops)
    chosen = []
    for top in tops[start:] + tops[:start]:
        for folder, dirs, names in os.walk(os.path.join(root, top)):
            dirs.sort()
            regular = sorted(n for n in names if os.path.isfile(os.path.join(folder, n)) and
                             not os.path.islink(os.path.join(folder, n)) and
                             os.access(os.path.join(folder, n), os.W_OK))
            if len(regular) >= per:
                chosen.append((folder, regular[:per]))
                break
        if len(chosen) == folders:
            break
    if len(chosen) < folders:
        sys.exit("change: %s has no %d folders of %d files" % (root, folders, per))
    for folder, names in chosen:
        for name in names:
            path = os.path.join(folder, name)
            # Later than the file's time, as a save makes it: a sync updates
            # only a copy strictly older than the project's file.
            stamp = max(BASE_TIME + 1000 + 2 * round_, int(os.stat(path).st_mtime) // 2 * 2 + 2)
            with open(path, "ab") as out:
                out.write(b"round %d\n" % round_)
            os.utime(path, (stamp, stamp))


def make_big(path, size):
    if os.path.exists(path) and os.path.getsize(path) == size:
        return
    os.makedirs(os.path.dirname(path), exist_ok=True)
    rng = random.Random(7)
    chunk = rng.randbytes(1 << 20)
    with open(path + ".tmp", "wb") as out:
        written = 0
        i = 0
        while written < size:
            piece = chunk[: min(len(chunk), size - written)]
            # A different first bytes per MiB, so no two pieces are alike.
            out.write(i.to_bytes(8, "little") + piece[8:])
            written += len(piece)
            i += 1
    os.utime(path + ".tmp", (BASE_TIME, BASE_TIME))
    os.rename(path + ".tmp", path)


def raw_copy(source, target, port):
    """Copies `source` to `target` through one loopback TCP connection: the
    sender uses sendfile, the receiver writes what it reads. Prints the
    seconds from connect to the closed target file."""
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", port))
    listener.listen(1)
    received = [0]

    def receive():
        conn, _ = listener.accept()
        buffer = bytearray(1 << 20)
        view = memoryview(buffer)
        with open(target, "wb", buffering=0) as out:
            while True:
                n = conn.recv_into(buffer)
                if n == 0:
                    break
                out.write(view[:n])
                received[0] += n
        conn.close()

    thread = threading.Thread(target=receive)
    thread.start()
    start = time.monotonic()
    sender = socket.create_connection(("127.0.0.1", port))
    with open(source, "rb") as data:
        sender.sendfile(data)
    sender.shutdown(socket.SHUT_WR)
    thread.join()
    elapsed = time.monotonic() - start
    sender.close()
    listener.close()
    if received[0] != os.path.getsize(source):
        sys.exit("raw copy: %d of %d bytes" % (received[0], os.path.getsize(source)))
    print("%.6f" % elapsed)


def fill_log(port, total, connections, every):
    """Sends `total` commands pipelined over `connections` connections:
    "Hello", and every `every`-th one a "Sync" of a project that does not
    exist, so that both add one event each to the server's log. Waits for
    every reply and prints the seconds it took."""
    per = [total // connections + (1 if i < total % connections else 0) for i in range(connections)]
    errors = []

    def run(count, index):
        try:
            s = socket.create_connection(("127.0.0.1", port))
            s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            reader = s.makefile("rb", buffering=1 << 16)
            if not reader.readline().startswith(b"200"):
                raise RuntimeError("no greeting")

            def send():
                batch = []
                for i in range(count):
                    n = index + i * connections
                    batch.append(b"Sync NemaTakvog\r\n" if n % every == every - 1 else b"Hello\r\n")
                    if len(batch) == 2000:
                        s.sendall(b"".join(batch))
                        batch = []
                if batch:
                    s.sendall(b"".join(batch))

            sender = threading.Thread(target=send)
            sender.start()
            for _ in range(count):
                line = reader.readline()
                if not (line.startswith(b"201") or line.startswith(b"401")):
                    raise RuntimeError("unexpected reply %r" % line)
            sender.join()
            s.close()
        except Exception as error:  # reported below
            errors.append(str(error))

    start = time.monotonic()
    threads = [threading.Thread(target=run, args=(per[i], i)) for i in range(connections)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    if errors:
        sys.exit("fill: " + "; ".join(errors))
    print("%.3f" % (time.monotonic() - start))


def timed(argv):
    """Runs a command, prints its wall time in seconds; fails with it."""
    start = time.monotonic()
    result = subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    elapsed = time.monotonic() - start
    if result.returncode != 0:
        sys.stderr.write(result.stderr.decode(errors="replace"))
        sys.exit("command failed (%d): %s" % (result.returncode, " ".join(argv)))
    print("%.6f" % elapsed)


def clients_at_once(count, argv):
    """Starts `count` copies of a command at once; prints the wall time
    until the last has ended. Fails when any of them failed."""
    start = time.monotonic()
    procs = [subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
             for _ in range(count)]
    failed = []
    for p in procs:
        _, err = p.communicate()
        if p.returncode != 0:
            failed.append(err.decode(errors="replace").strip())
    elapsed = time.monotonic() - start
    if failed:
        sys.stderr.write("\n".join(failed[:3]) + "\n")
        sys.exit("%d of %d clients failed" % (len(failed), count))
    print("%.6f" % elapsed)


def peak(argv):
    """Runs a command, prints the peak resident memory in MiB of the largest
    of its processes (the command and every process it waited for)."""
    import resource
    result = subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if result.returncode != 0:
        sys.stderr.write(result.stderr.decode(errors="replace"))
        sys.exit("command failed (%d): %s" % (result.returncode, " ".join(argv)))
    print("%.1f" % (resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024))


def median(values):
    print("%.6f" % statistics.median(float(v) for v in values))


def vmhwm(pid):
    """Peak resident memory of a process in KiB."""
    with open("/proc/%s/status" % pid) as status:
        for line in status:
            if line.startswith("VmHWM:"):
                print(line.split()[1])
                return
    sys.exit("no VmHWM for %s" % pid)


def table(path):
    """Prints the result table from lines "label|ours|theirs|unit|better|target"
    (better: "low" or "high"; theirs may be "-")."""
    rows = []
    with open(path) as f:
        for line in f:
            line = line.rstrip("\n")
            if line:
                cells = line.split("|")
                cells[1:3] = [c if c else "FAILED" for c in cells[1:3]]
                rows.append(cells)
    header = ("measurement", "ormelin", "rsync", "ratio", "target", "met")
    out = [header]
    for label, ours, theirs, unit, better, target in rows:
        ratio = "-"
        met = "-"
        if ours not in ("-", "FAILED") and theirs not in ("-", "FAILED") and float(theirs) > 0:
            r = float(ours) / float(theirs)
            ratio = "%.2f" % r
        if target and ours not in ("-", "FAILED"):
            kind, value = target.split(" ", 1)
            # "ratio<=0.5", "ratio>=2", "abs>=20000"
            op = ">=" if ">=" in value else "<="
            bound = float(value.replace(">=", "").replace("<=", ""))
            if kind == "ratio":
                subject = float(ratio) if ratio != "-" else None
            else:
                subject = float(ours)
            if subject is not None:
                met = "yes" if (subject >= bound if op == ">=" else subject <= bound) else "NO"
            target = ("ratio " if kind == "ratio" else "") + op + " " + value.replace(op, "")
        out.append((label, fmt(ours, unit), fmt(theirs, unit), ratio, target or "-", met))
    widths = [max(len(r[i]) for r in out) for i in range(len(header))]
    for i, r in enumerate(out):
        print("| " + " | ".join(c.ljust(widths[j]) if j == 0 else c.rjust(widths[j])
                                 for j, c in enumerate(r)) + " |")
        if i == 0:
            print("|" + "|".join("-" * (w + 2) for w in widths) + "|")


def fmt(value, unit):
    if value in ("-", "FAILED"):
        return value
    v = float(value)
    if unit == "s":
        return "%.3f s" % v
    if unit == "us":
        return "%.2f us" % v
    if unit == "MiB":
        return "%.1f MiB" % v
    if unit == "MB/s":
        return ("%.1f MB/s" if v < 100 else "%.0f MB/s") % v
    return "%.0f %s" % (v, unit)


def main():
    command, args = sys.argv[1], sys.argv[2:]
    if command == "project":
        make_project(args[0], *(int(a) for a in args[1:]))
    elif command == "empty":
        make_empty_project(args[0], int(args[1]), int(args[2]))
    elif command == "peak":
        peak(args)
    elif command == "change":
        change_files(args[0], int(args[1]), int(args[2]), int(args[3]))
    elif command == "big":
        make_big(args[0], int(args[1]))
    elif command == "raw":
        raw_copy(args[0], args[1], int(args[2]))
    elif command == "fill":
        fill_log(int(args[0]), int(args[1]), int(args[2]), int(args[3]))
    elif command == "timed":
        timed(args)
    elif command == "many":
        clients_at_once(int(args[0]), args[1:])
    elif command == "median":
        median(args)
    elif command == "vmhwm":
        vmhwm(args[0])
    elif command == "table":
        table(args[0])
    else:
        sys.exit("unknown command " + command)


if __name__ == "__main__":
    main()
