#!/usr/bin/env python3
"""Does reception wait for the archive, and does the archive leave the disk to the raw log?

Runs the desktop program (offscreen, in a temporary folder, without the right to
set the clock) against a KISS-over-TCP server of its own on 127.0.0.1 that sends
one frame of a generated pass every 1/RATE seconds, then compares the archive and
the raw log with what was sent.

  scripts/archive_probe.py lock [--build DIR] [--rate 20] [--lock 10] [--seconds 30]
      holds the archive locked (BEGIN EXCLUSIVE) for LOCK seconds in the middle of
      the run; reports frames missing and how late each was stamped after it was sent.
  scripts/archive_probe.py full-disk [--build DIR] [--rate 400] [--seconds 40] [--disk-mb 6]
      (as root) runs the program on a small file system of its own (--disk-mb 6),
      fills it, frees 700 KB and later the rest; reports the raw log and the archive
      as it goes.
"""

import argparse
import os
import shutil
import socket
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time

FEND = 0xC0


def split_frames(stream):
    frames, start = [], None
    for i, byte in enumerate(stream):
        if byte != FEND:
            continue
        if start is not None and i > start + 1:
            frames.append(bytes(stream[start:i + 1]))
            start = None
        else:
            start = i
    return frames


def silent_time_server():
    """Listens on port 37 of a loopback address, never answering: the program's
    time client asks only there."""
    for host in range(1, 32):
        s = socket.socket()
        try:
            s.bind((f"127.0.0.{host}", 37))
            s.listen()
            return s, f"127.0.0.{host}"
        except OSError:
            s.close()
    sys.exit("every loopback TIME port is taken")


def serve(listener, frames, rate, sent, stop):
    conn, _ = listener.accept()
    period = 1.0 / rate
    next_time = time.monotonic()
    for frame in frames:
        if stop.is_set():
            break
        next_time += period
        time.sleep(max(0.0, next_time - time.monotonic()))
        conn.sendall(frame)
        sent.append((frame, time.time_ns() // 1_000_000))
    stop.wait()
    conn.close()


class Station:
    """The program in `folder`, receiving `count` frames at `rate` a second."""

    def __init__(self, build, folder, count, rate):
        self.folder = folder
        subprocess.run([f"{build}/bin/zevrinkiss-make-pass", "--frames", str(count),
                        f"{folder}/../pass.kss"], check=True)
        self.frames = split_frames(open(f"{folder}/../pass.kss", "rb").read())[:count]
        listener = socket.socket()
        listener.bind(("127.0.0.1", 0))
        listener.listen()
        self.time_server, time_host = silent_time_server()
        with open(f"{folder}/zevrinkiss.ini", "w", newline="") as ini:
            ini.write(f"tcp:127.0.0.1:{listener.getsockname()[1]}\r\n{time_host}\r\nLab\r\n")
        shutil.copy2(f"{build}/bin/zevrinkiss", f"{folder}/zevrinkiss")
        self.sent, self.stop = [], threading.Event()
        self.server = threading.Thread(target=serve,
                                       args=(listener, self.frames, rate, self.sent, self.stop))
        self.server.start()
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        self.program = subprocess.Popen(
            ["setpriv", "--no-new-privs", "--bounding-set", "-sys_time", "--inh-caps",
             "-sys_time", "./zevrinkiss"], cwd=folder, env=env,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.archive = f"{folder}/Lab_archive.sqlite"
        while not os.path.exists(self.archive) and self.program.poll() is None:
            time.sleep(0.05)

    def finish(self):
        while len(self.sent) < len(self.frames) and self.server.is_alive():
            time.sleep(0.1)
        time.sleep(2)  # the last frames reach the archive
        self.program.terminate()
        self.program.wait(timeout=60)
        self.stop.set()
        self.server.join()
        self.time_server.close()

    def archived(self):
        """The archive's frames: bytes -> reception times, in order."""
        stored = {}
        with sqlite3.connect(self.archive) as db:
            for data, ms in db.execute("SELECT bytes, received_ms FROM frames ORDER BY id"):
                stored.setdefault(bytes(data), []).append(ms)
        return stored

    def raw_frames(self):
        names = [n for n in os.listdir(self.folder) if n.endswith(".kss")]
        return sum(len(split_frames(open(f"{self.folder}/{n}", "rb").read())) for n in names)


def probe_lock(args, work):
    os.mkdir(f"{work}/station")
    station = Station(args.build, f"{work}/station", int(args.rate * args.seconds), args.rate)
    time.sleep((args.seconds - args.lock) / 2)
    lock = sqlite3.connect(station.archive, isolation_level=None, timeout=30)
    lock.execute("BEGIN EXCLUSIVE")
    locked_at = time.time()
    time.sleep(args.lock)
    lock.execute("COMMIT")
    lock.close()
    print(f"archive locked for {time.time() - locked_at:.1f} s")
    station.finish()
    stored = station.archived()
    late, missing = [], 0
    for frame, sent_ms in station.sent:
        times = stored.get(frame)
        if not times:
            missing += 1
            continue
        late.append(times.pop(0) - sent_ms)
    late.sort()
    print(f"frames sent {len(station.sent)}, in the archive {len(station.sent) - missing}, "
          f"missing {missing}")
    if late:
        print(f"stamped after sending: median {late[len(late) // 2]} ms, "
              f"99th percentile {late[int(len(late) * 0.99)]} ms, most {late[-1]} ms")
    return 1 if missing or (late and late[-1] > 100) else 0


def fill(path):
    """Writes to `path` until the disk is full."""
    with open(path, "ab", buffering=0) as f:
        try:
            while True:
                f.write(b"\0" * 4096)
        except OSError:
            pass


def probe_full_disk(args, work):
    disk = f"{work}/disk"
    os.mkdir(disk)
    subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={args.disk_mb}m", "tmpfs", disk],
                   check=True)
    try:
        station = Station(args.build, disk, int(args.rate * args.seconds), args.rate)
        wal = f"{station.archive}-wal"

        def report(when):
            size = os.path.getsize(wal) if os.path.exists(wal) else 0
            print(f"{when:>28}: sent {len(station.sent):6}, raw log {station.raw_frames():6} "
                  f"frames, archive log {size // 1024:5} KB, free "
                  f"{shutil.disk_usage(disk).free // 1024:5} KB")

        time.sleep(3)
        report("before the disk is full")
        fill(f"{disk}/filler")
        time.sleep(5)
        report("5 s on a full disk")
        sent_before = len(station.sent)
        with open(f"{disk}/filler", "r+b") as f:
            f.truncate(max(0, os.path.getsize(f"{disk}/filler") - 700 * 1024))
        freed = time.monotonic()
        for wait in (1, 5, 15):
            time.sleep(max(0.0, freed + wait - time.monotonic()))
            report(f"{wait} s after 700 KB freed")
        raw_gain = station.raw_frames()
        os.remove(f"{disk}/filler")
        time.sleep(5)
        report("5 s after the rest freed")
        station.finish()
        report("at the end")
        archived = sum(len(t) for t in station.archived().values())
        print(f"frames sent {len(station.sent)}, raw log {station.raw_frames()}, "
              f"archive {archived}; sent before the space was freed {sent_before}, "
              f"raw log 15 s after {raw_gain}")
    finally:
        subprocess.run(["umount", "-l", disk], check=False)
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("probe", choices=["lock", "full-disk"])
    parser.add_argument("--build", default="build")
    parser.add_argument("--rate", type=float)
    parser.add_argument("--lock", type=float, default=10)
    parser.add_argument("--seconds", type=float)
    parser.add_argument("--disk-mb", type=int, default=6)
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    lock = args.probe == "lock"
    args.rate = args.rate or (20 if lock else 400)
    args.seconds = args.seconds or (30 if lock else 40)
    with tempfile.TemporaryDirectory(prefix="archive-probe-") as work:
        return probe_lock(args, work) if lock else probe_full_disk(args, work)


if __name__ == "__main__":
    sys.exit(main())
