#!/usr/bin/python3
"""Side-by-side benchmark of tracepack and traceunpack against the tools a user
would pick instead, and against the floors (cat, copy) of the same machine.

    bench.py [options] S|M|L|all ...

Options:
    --build DIR        where tracepack and traceunpack are (default: build-bench)
    --dir DIR          scratch directory (default: $TRACE_BENCH_DIR or /tmp/trace-bench)
    --runs S=5,M=5,L=3 timed runs per size (after one checked warm-up run)
    --slow SEC         a tool whose warm-up run took longer than SEC seconds is
                       timed on one run only (default 60; printed in the table)
    --timeout SEC      a run taking longer is stopped and the tool reported as
                       "timeout" (default 900)
    --skip KEY:SIZE    do not run tool KEY on SIZE (keys: tracepack, numpy,
                       pandas, pandas-default, octave-pack, traceunpack, scipy, octave-unpack)
    --thp on,off       transparent huge pages as the system has them (on), and/or
                       disabled for the tool (off: prctl PR_SET_THP_DISABLE by
                       the launcher thp_launch, which its children inherit)
    --target fresh,existing
                       the output removed before each run (fresh), and/or the
                       previous run's output left in place (existing)

Every tool runs in every combination of --thp and --target (default: all
four), the combinations taking turns run by run; each combination's ratio is
against the fastest exact peer in that same combination.

Every peer's output of its warm-up run is compared with ours (compare.py)
before it is timed; a peer whose output differs is reported and not timed.
One exception: pandas.read_csv with its default float parser, which gives a
few values one unit in the last place off, is timed for information, marked
as differing, and never counted as the fastest peer.
Wall time comes from time.perf_counter around each run; user+sys CPU time
from the run's resource usage (wait4), peak RSS from /usr/bin/time. Results go to stdout and to DIR/results.{md,csv,json}.
Before each run the disk is synced (outside the timing), and after it any
process the tool left behind (the freeing of a replaced output) is
waited for, so that no run is measured while another's work is pending.
"""
import argparse
import csv
import datetime
import hashlib
import json
import mmap
import os
import platform
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
PY = "/usr/bin/python3"
SIZES = {"S": (20, 100_000), "M": (50, 400_000), "L": (100, 1_000_000)}
MIB = 1 << 20
GOALS = (12, 15)  # the ratios the table tells the distance to
CACHED = {}  # size: how much of its log the file cache held in 2 MiB pages


def uptime_load():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def cpu_model():
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    return "?"


def machine_line():
    model = cpu_model()
    with open("/proc/meminfo") as f:
        mem_kb = int(f.readline().split()[1])
    return "%s, %d cores (%s), %.0f GiB, %s" % (
        socket.gethostname(), os.cpu_count(), model, mem_kb / (1 << 20),
        platform.platform())


def read_first(path):
    try:
        with open(path) as f:
            return f.readline().strip()
    except OSError:
        return "?"


def system_lines():
    """What tells this machine's figures apart from another's: the CPU, the
    kernel and its transparent-huge-page settings."""
    model = cpu_model()
    thp = "/sys/kernel/mm/transparent_hugepage/"
    return ["cpu: %s, %d cores" % (model, os.cpu_count()),
            "kernel: %s" % platform.release(),
            "transparent huge pages: enabled %s; defrag %s"
            % (read_first(thp + "enabled"), read_first(thp + "defrag"))]


def huge_cached_share(path):
    """How much of path, already in the file cache, sits there in 2 MiB
    pages: mapping such a file, as both programs do, costs the kernel far
    less. It depends on how the file came into the cache (read from disk:
    most of it; written in small writes, or paged out and read back piece
    by piece: little). Seen as FilePmdMapped after touching one byte every
    2 MiB of a mapping; None where the kernel does not show it."""
    size = os.path.getsize(path)
    if size < 2 * MIB or "[never]" in read_first("/sys/kernel/mm/transparent_hugepage/enabled"):
        return None
    real = os.path.realpath(path)
    with open(path, "rb") as f, mmap.mmap(f.fileno(), 0, prot=mmap.PROT_READ) as m:
        for at in range(0, size, 2 * MIB):
            m[at]
        mapped_kb, ours = None, False
        with open("/proc/self/smaps") as smaps:
            for line in smaps:
                parts = line.split()
                if parts and not parts[0].endswith(":"):  # a mapping's first line
                    ours = parts[-1] == real
                elif ours and parts[0] == "FilePmdMapped:":
                    mapped_kb = (mapped_kb or 0) + int(parts[1])
    return None if mapped_kb is None else min(1.0, mapped_kb * 1024 / size)


def thp_launcher(build, scratch):
    """The launcher of --thp, built beside the programs by run.sh, else here;
    checked to disable huge pages for what it starts."""
    path = os.path.join(build, "thp_launch")
    if not os.access(path, os.X_OK):
        path = os.path.join(scratch, "thp_launch")
        subprocess.run(["cc", "-O2", "-o", path, os.path.join(HERE, "thp_launch.c")], check=True)
    status = subprocess.run([path, "off", "cat", "/proc/self/status"],
                            capture_output=True, text=True).stdout
    seen = [l for l in status.splitlines() if l.startswith("THP_enabled:")]
    if seen and seen[0].split()[1] != "0":
        sys.exit("bench.py: %s off leaves huge pages enabled (%s)" % (path, seen[0]))
    return path, (" ".join(seen[0].split()) if seen else "THP_enabled not shown by this kernel")


def git_head():
    try:
        out = subprocess.run(["git", "-C", REPO, "log", "-1", "--format=%h %s"],
                             capture_output=True, text=True, check=True).stdout.strip()
        dirty = subprocess.run(["git", "-C", REPO, "status", "--porcelain", "--", "lib", "tools"],
                               capture_output=True, text=True).stdout.strip()
        return out + (" (+ uncommitted changes in lib/ or tools/)" if dirty else "")
    except (OSError, subprocess.CalledProcessError):
        return "?"


class Run:
    def __init__(self, wall, user, sys_, rss_kib, rc, timed_out=False):
        self.wall, self.user, self.sys, self.rss_kib = wall, user, sys_, rss_kib
        self.rc, self.timed_out = rc, timed_out


def wait_group_empty(pgid, deadline):
    """Waits until no process of group pgid is left, or until deadline."""
    while time.perf_counter() < deadline:
        try:
            os.killpg(pgid, 0)
        except (ProcessLookupError, PermissionError):
            return
        time.sleep(0.002)


def run_once(cmd, cwd, timeout, stdout_path=None):
    """One run of cmd: wall time from perf_counter; user and sys time from
    wait4's resource usage (microseconds); peak RSS from /usr/bin/time's %M
    (its -v "Maximum resident set size"): a process started straight from
    this script would carry this script's own RSS as its high-water mark."""
    tfile = os.path.join(cwd, ".rss.out")
    cmd = ["/usr/bin/time", "-f", "%M", "-o", tfile] + cmd
    out = open(stdout_path, "wb") if stdout_path else subprocess.DEVNULL
    state = {"done": False, "killed": False}
    lock = threading.Lock()
    # Every run starts on a quiet disk: what earlier runs (of any tool) left
    # to write back is written first, outside the timing, so that no run
    # pays for the writes of another.
    os.sync()
    t0 = time.perf_counter()
    p = subprocess.Popen(cmd, cwd=cwd, stdout=out, stderr=subprocess.DEVNULL,
                         stdin=subprocess.DEVNULL, start_new_session=True)

    def kill():
        with lock:
            if not state["done"]:
                state["killed"] = True
                os.killpg(p.pid, signal.SIGKILL)

    timer = threading.Timer(timeout, kill)
    timer.start()
    _, status, ru = os.wait4(p.pid, 0)
    wall = time.perf_counter() - t0
    # A tool may leave work to a process of its own that outlives it (the
    # freeing of a replaced output): that ends before the next run starts.
    wait_group_empty(p.pid, t0 + timeout)
    with lock:
        state["done"] = True
    timer.cancel()
    p.returncode = os.waitstatus_to_exitcode(status)
    if stdout_path:
        out.close()
    if state["killed"]:
        return Run(wall, 0, 0, 0, -9, timed_out=True)
    with open(tfile) as f:
        rss_kib = int(f.read().split()[-1])
    return Run(wall, ru.ru_utime, ru.ru_stime, rss_kib, p.returncode)


def ensure_log(size, scratch):
    fields, samples = SIZES[size]
    path = os.path.join(scratch, "%s.log" % size)
    stamp_path = path + ".stamp"
    with open(os.path.join(HERE, "genlog.py"), "rb") as f:
        stamp = "%s %d %d\n" % (hashlib.sha256(f.read()).hexdigest(), fields, samples)
    if os.path.exists(path) and os.path.exists(stamp_path):
        with open(stamp_path) as f:
            if f.read() == stamp:
                return path
    print("  generating %s (%d fields x %d samples)..." % (path, fields, samples), flush=True)
    subprocess.run([PY, os.path.join(HERE, "genlog.py"), size, path], check=True)
    with open(stamp_path, "w") as f:
        f.write(stamp)
    return path


def compare(kind, ours, theirs):
    p = subprocess.run([PY, os.path.join(HERE, "compare.py"), kind, ours, theirs],
                       capture_output=True, text=True)
    return None if p.returncode == 0 else (p.stdout + p.stderr).strip() or "differs"


def median(xs):
    return statistics.median(xs) if xs else float("nan")


def measure(rows, cmd, cwd, out_path, runs, args, check=None, stdout_path=None):
    # rows: one per mode (thp, target), all of one tool. kind "inexact": a
    # peer timed even when its output differs from ours, shown for
    # information and never counted as the fastest peer.
    """Warm-up run (huge pages on, fresh target), optional check of its
    output, then the timed runs, the modes taking turns: round i runs every
    mode once, starting one mode further on than round i - 1. A fresh mode
    removes the output before its run; an existing one finds the output of
    the run before it (the same tool's) in place."""
    def status(text):
        for row in rows:
            row["status"] = text

    def launch(row):
        return [args.launcher, row["thp"]] + cmd

    if out_path and os.path.exists(out_path):
        os.remove(out_path)
    warm = run_once(launch({"thp": "on"}), cwd, args.timeout, stdout_path)
    if warm.timed_out:
        status("timeout (> %d s)" % args.timeout)
        return rows
    if warm.rc != 0:
        status("exit status %d" % warm.rc)
        return rows
    if check:
        err = check()
        if err and rows[0]["kind"] == "inexact":
            status("differs, not counted as a peer: " + err)
        elif err:
            status("OUTPUT DIFFERS, not timed: " + err)
            print("    %s: output differs from ours: %s" % (rows[0]["tool"], err), flush=True)
            return rows
        else:
            status("checked equal")
    n = runs
    if warm.wall > args.slow and runs > 1:
        n = 1
        for row in rows:
            row["note"] = "slow: 1 timed run (warm-up took %.0f s)" % warm.wall
    times = [[] for _ in rows]
    for i in range(n):
        for k in range(len(rows)):
            m = (i + k) % len(rows)
            row = rows[m]
            if out_path and row["target"] == "fresh" and os.path.exists(out_path):
                os.remove(out_path)
            r = run_once(launch(row), cwd, args.timeout, stdout_path)
            if r.timed_out:
                status("timeout (> %d s)" % args.timeout)
                return rows
            times[m].append(r)
    for row, ts in zip(rows, times):
        row["runs"] = n
        row["walls"] = [round(r.wall, 4) for r in ts]
        row["wall"] = median([r.wall for r in ts])
        row["cpu"] = median([r.user + r.sys for r in ts])
        row["user"] = median([r.user for r in ts])
        row["sys"] = median([r.sys for r in ts])
        row["rss_mib"] = max(r.rss_kib for r in ts + ([warm] if row["thp"] == "on" else [])) / 1024
        row["mbps"] = row["log_bytes"] / 1e6 / row["wall"]
    return rows


def bench_size(size, args, build, scratch):
    fields, samples = SIZES[size]
    runs = args.runs[size]
    log = ensure_log(size, scratch)
    log_bytes = os.path.getsize(log)
    table_bytes = fields * samples * 8
    column_bytes = samples * 8
    limit_mib = (table_bytes + column_bytes) / MIB + 32
    print("\n== %s: %d fields x %d samples, log %.1f MB, table %.1f MiB; load %s"
          % (size, fields, samples, log_bytes / 1e6, table_bytes / MIB, uptime_load()),
          flush=True)
    subprocess.run(["cat", log], stdout=subprocess.DEVNULL, check=True)  # warm the cache
    share = huge_cached_share(log)
    CACHED[size] = "not shown" if share is None else "%.0f%%" % (100 * share)
    print("   log cached in 2 MiB pages: %s" % CACHED[size], flush=True)

    d = lambda name: os.path.join(scratch, "%s.%s" % (size, name))
    ours_mat, ours_log = d("tracepack.mat"), d("traceunpack.log")
    # tracepack's output, kept aside: the peers' MAT-files are checked against
    # it and the other direction reads it, while the timed runs remove and
    # rewrite ours_mat.
    ref_mat = d("reference.mat")
    if os.path.exists(ref_mat):
        os.remove(ref_mat)
    peers = os.path.join(HERE, "peers")
    octave = ["octave-cli", "-q", "--norc", "--no-history"]
    rows = []

    def base(direction, key, tool, kind, thp="on", target="fresh"):
        return {"size": size, "direction": direction, "key": key, "tool": tool,
                "kind": kind, "log_bytes": log_bytes, "runs": 0, "status": "",
                "note": "", "fields": fields, "samples": samples,
                "thp": thp, "target": target,
                "limit_mib": limit_mib if kind == "ours" else None}

    def go(direction, key, tool, kind, cmd, out, check=None, stdout_path=None):
        group = [base(direction, key, tool, kind, thp, target) for thp, target in args.modes]
        if "%s:%s" % (key, size) in args.skip:
            for row in group:
                row["status"] = "skipped (--skip %s:%s)" % (key, size)
            print("    %-42s skipped" % tool, flush=True)
            rows.extend(group)
            return group
        measure(group, cmd, scratch, out, runs, args, check, stdout_path)
        for row in group:
            label = "%s [thp %s, %s]" % (tool, row["thp"], row["target"])
            if "wall" in row:
                print("    %-58s %8.3f s wall %8.3f s cpu %8.1f MB/s %8.1f MiB  %s %s"
                      % (label, row["wall"], row["cpu"], row["mbps"], row["rss_mib"],
                         row["status"], row["note"]), flush=True)
            else:
                print("    %-58s %s" % (label, row["status"]), flush=True)
        rows.extend(group)
        return group

    # ---- log -> MAT
    print("  log -> MAT (load %s)" % uptime_load(), flush=True)
    go("log->MAT", "cat", "floor: cat log > /dev/null", "floor", ["cat", log], None)
    go("log->MAT", "tracepack", "tracepack", "ours",
           [os.path.join(build, "tracepack"), log, ours_mat], ours_mat)
    if os.path.exists(ours_mat):
        shutil.copyfile(ours_mat, ref_mat)
        mat_check = lambda out: (lambda: compare("mat", ref_mat, out))
    else:
        mat_check = lambda out: (lambda: "no tracepack output to compare with")
    go("log->MAT", "numpy", "numpy.loadtxt + savemat", "peer",
       [PY, os.path.join(peers, "numpy_pack.py"), log, d("numpy.mat")], d("numpy.mat"),
       mat_check(d("numpy.mat")))
    go("log->MAT", "pandas", "pandas.read_csv(C, round_trip) + savemat", "peer",
       [PY, os.path.join(peers, "pandas_pack.py"), log, d("pandas.mat")], d("pandas.mat"),
       mat_check(d("pandas.mat")))
    go("log->MAT", "pandas-default", "pandas.read_csv(C, default) + savemat", "inexact",
       [PY, os.path.join(peers, "pandas_pack.py"), log, d("pandas.mat"), "high"],
       d("pandas.mat"), mat_check(d("pandas.mat")))
    go("log->MAT", "octave-pack", "octave dlmread + save -v6", "peer",
       octave + [os.path.join(peers, "octave_pack.m"), log, d("octave.mat")], d("octave.mat"),
       mat_check(d("octave.mat")))

    # ---- MAT -> log
    print("  MAT -> log (load %s)" % uptime_load(), flush=True)
    if not os.path.exists(ref_mat):
        print("    no MAT-file from tracepack: MAT -> log skipped", flush=True)
        return rows
    mat_bytes = os.path.getsize(ref_mat)
    go("MAT->log", "cat-mat", "floor: cat MAT > /dev/null", "floor", ["cat", ref_mat], None)
    go("MAT->log", "cp-log", "floor: cp log (write)", "floor",
       ["cp", log, d("copy.log")], d("copy.log"))
    if os.path.exists(d("copy.log")):
        os.remove(d("copy.log"))
    unpack = os.path.join(build, "traceunpack")
    if os.path.exists(unpack):
        # traceunpack's output must give back the generated log's values, byte for byte
        go("MAT->log", "traceunpack", "traceunpack", "ours",
           [unpack, ref_mat, ours_log], ours_log, lambda: compare("log", log, ours_log))
    else:
        row = base("MAT->log", "traceunpack", "traceunpack", "ours")
        row["status"] = "not built"
        rows.append(row)
        print("    traceunpack not built", flush=True)
    ref_log = ours_log if os.path.exists(ours_log) else log
    log_check = lambda out: (lambda: compare("log", ref_log, out))
    go("MAT->log", "scipy", "scipy loadmat + numpy.savetxt", "peer",
       [PY, os.path.join(peers, "scipy_unpack.py"), ref_mat, d("scipy.log")], d("scipy.log"),
       log_check(d("scipy.log")))
    go("MAT->log", "octave-unpack", "octave load + fprintf", "peer",
       octave + [os.path.join(peers, "octave_unpack.m"), ref_mat, d("octave.log")],
       d("octave.log"), log_check(d("octave.log")))
    for row in rows:
        row["mat_bytes"] = mat_bytes
    for name in ("numpy.mat", "pandas.mat", "octave.mat", "scipy.log", "octave.log", "reference.mat"):
        if os.path.exists(d(name)):
            os.remove(d(name))
    print("  done (load %s)" % uptime_load(), flush=True)
    return rows


def to_goal(r, goal):
    """How far ours is from goal times the fastest peer's speed: the wall
    time it has to lose, or "met"."""
    if "ratio_wall" not in r:
        return ""
    if r["ratio_wall"] >= goal:
        return "met"
    lose = r["wall"] - r["peer_wall"] / goal
    return "-%.0f ms (-%.0f%%)" % (lose * 1000, 100 * lose / r["wall"])


def judge(rows, modes):
    """Ratios of ours to the fastest peer of the same mode, and the targets."""
    for direction in ("log->MAT", "MAT->log"):
        for size in SIZES:
            for thp, target in modes:
                group = [r for r in rows if r["size"] == size and r["direction"] == direction
                         and r["thp"] == thp and r["target"] == target]
                peers = [r for r in group if r["kind"] == "peer" and "wall" in r]
                for r in group:
                    if r["kind"] != "ours" or "wall" not in r:
                        continue
                    if peers:
                        fw = min(peers, key=lambda p: p["wall"])
                        fc = min(peers, key=lambda p: p["cpu"])
                        r["fastest_peer"] = fw["tool"]
                        r["peer_wall"] = fw["wall"]
                        r["status"] = "; ".join(x for x in (r["status"], "fastest peer: %s" % fw["tool"]) if x)
                        r["ratio_wall"] = fw["wall"] / r["wall"]
                        r["ratio_cpu"] = fc["cpu"] / r["cpu"] if r["cpu"] > 0 else float("inf")
                        inexact = [p for p in group if p["kind"] == "inexact" and "wall" in p]
                        if inexact:
                            x = min(inexact, key=lambda p: p["wall"])
                            if x["wall"] < fw["wall"]:
                                r["note"] = ("%s (inexact, faster than every exact peer): "
                                             "%.1fx wall, %.1fx cpu" % (x["tool"], x["wall"] / r["wall"],
                                                                        x["cpu"] / r["cpu"]))
                        if size in ("M", "L"):
                            r["speed_target"] = "PASS" if r["ratio_wall"] >= 10 else "FAIL"
                        else:
                            r["speed_target"] = "(M, L only)"
                        for goal in GOALS:
                            r["to_%dx" % goal] = to_goal(r, goal)
                    r["mem_target"] = "PASS" if r["rss_mib"] <= r["limit_mib"] else "FAIL"


def fmt(v, pattern):
    return "" if v is None or v == "" else pattern % v


def table(rows):
    head = ["size", "direction", "tool", "thp", "target", "runs", "median wall s",
            "median cpu s", "MB/s", "peak RSS MiB", "ours vs fastest peer (wall)", "(cpu)",
            "10x target"] + ["to %dx" % g for g in GOALS] + [
            "RSS limit MiB", "memory target", "check / note"]
    out = []
    for r in rows:
        out.append([r["size"], r["direction"], r["tool"], r["thp"], r["target"],
                    str(r.get("runs", "")),
                    fmt(r.get("wall"), "%.3f"), fmt(r.get("cpu"), "%.3f"),
                    fmt(r.get("mbps"), "%.1f"), fmt(r.get("rss_mib"), "%.0f"),
                    fmt(r.get("ratio_wall"), "%.1fx"), fmt(r.get("ratio_cpu"), "%.1fx"),
                    r.get("speed_target", "")] + [r.get("to_%dx" % g, "") for g in GOALS] + [
                    fmt(r.get("limit_mib"), "%.0f"), r.get("mem_target", ""),
                    "; ".join(x for x in (r["status"], r["note"]) if x)])
    return head, out


def summary(rows):
    """Ours against the fastest exact peer, one line per size, direction and mode."""
    head = ["size", "direction", "thp", "target", "ours wall s (cpu s)", "fastest exact peer, wall s",
            "ratio wall (cpu)"] + ["to %dx" % g for g in GOALS]
    out = []
    for r in rows:
        if r["kind"] != "ours" or "wall" not in r:
            continue
        peer = ("%s %.3f" % (r["fastest_peer"], r["peer_wall"])) if "peer_wall" in r else "none timed"
        out.append([r["size"], r["direction"], r["thp"], r["target"],
                    "%s %.3f (%.3f)" % (r["tool"], r["wall"], r["cpu"]), peer,
                    ("%.1fx (%.1fx)" % (r["ratio_wall"], r["ratio_cpu"])) if "ratio_wall" in r else ""]
                   + [r.get("to_%dx" % g, "") for g in GOALS])
    return head, out


def markdown(head, body):
    lines = ["| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
    for b in body:
        lines.append("| " + " | ".join(x.replace("|", "/") for x in b) + " |")
    return "\n".join(lines) + "\n"


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("sizes", nargs="*", default=["all"])
    ap.add_argument("--build", default=os.path.join(REPO, "build-bench"))
    ap.add_argument("--dir", default=os.environ.get("TRACE_BENCH_DIR", "/tmp/trace-bench"))
    ap.add_argument("--runs", default="S=5,M=5,L=3")
    ap.add_argument("--slow", type=float, default=60)
    ap.add_argument("--timeout", type=float, default=900)
    ap.add_argument("--skip", action="append", default=[])
    ap.add_argument("--thp", default="on,off")
    ap.add_argument("--target", default="fresh,existing")
    args = ap.parse_args(argv[1:])
    thps, targets = args.thp.split(","), args.target.split(",")
    if not thps or any(t not in ("on", "off") for t in thps):
        ap.error("--thp takes on, off or on,off")
    if not targets or any(t not in ("fresh", "existing") for t in targets):
        ap.error("--target takes fresh, existing or fresh,existing")
    args.modes = [(t, g) for t in thps for g in targets]
    args.runs = {k: int(v) for k, v in (kv.split("=") for kv in args.runs.split(","))}
    sizes = []
    for s in args.sizes:
        sizes += list(SIZES) if s == "all" else [s.upper()]
    for s in sizes:
        if s not in SIZES:
            ap.error("unknown size %s" % s)
    scratch = os.path.abspath(args.dir)
    if os.path.realpath(scratch).startswith(os.path.realpath(REPO) + os.sep):
        ap.error("the scratch directory must be outside the repository")
    os.makedirs(scratch, exist_ok=True)
    build = os.path.abspath(args.build)
    args.launcher, thp_check = thp_launcher(build, scratch)

    started = datetime.datetime.now()
    print("trace benchmark, %s" % started.strftime("%Y-%m-%d %H:%M"))
    for line in system_lines():
        print(line)
    print("machine: %s" % machine_line())
    print("modes: thp %s x target %s (thp off: %s, under %s off)"
          % (args.thp, args.target, thp_check, args.launcher))
    print("tree: %s" % git_head())
    print("scratch: %s; runs %s (+1 checked warm-up each); load at start %s"
          % (scratch, args.runs, uptime_load()), flush=True)
    rows = []
    loads = ["start %s" % uptime_load()]
    for s in sizes:
        rows += bench_size(s, args, build, scratch)
        loads.append("after %s %s" % (s, uptime_load()))
    judge(rows, args.modes)
    head, body = table(rows)
    md = markdown(head, body)
    sm = markdown(*summary(rows))
    info = ("trace benchmark %s; %s; machine %s; tree %s; load (1/5/15 min) %s; "
            "logs cached in 2 MiB pages: %s\n"
            % (started.strftime("%Y-%m-%d %H:%M"), "; ".join(system_lines()), machine_line(),
               git_head(), ", ".join(loads),
               ", ".join("%s %s" % kv for kv in CACHED.items()) or "none read"))
    print("\n" + info)
    print(md)
    print(sm)
    with open(os.path.join(scratch, "results.md"), "w") as f:
        f.write(info + "\n" + md + "\n" + sm)
    with open(os.path.join(scratch, "results.csv"), "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(head)
        w.writerows(body)
    with open(os.path.join(scratch, "results.json"), "w") as f:
        json.dump({"info": info, "rows": rows}, f, indent=1)
    print("written: %s/results.{md,csv,json}" % scratch)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
