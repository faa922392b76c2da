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

Every peer's output of its warm-up run is compared with ours (compare.py)
before it is timed; a peer whose output differs is reported and not timed.
One exception: pandas.read_csv with its default float parser, which gives a
few values one unit in the last place off, is timed for information, marked
as differing, and never counted as the fastest peer.
Wall time comes from time.perf_counter around each run; user+sys CPU time
from the run's resource usage (wait4), peak RSS from /usr/bin/time. Results go to stdout and to DIR/results.{md,csv,json}.
"""
import argparse
import csv
import datetime
import hashlib
import json
import os
import platform
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


def uptime_load():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def machine_line():
    model = "?"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as f:
        mem_kb = int(f.readline().split()[1])
    return "%s, %d cores (%s), %.0f GiB, %s" % (
        socket.gethostname(), os.cpu_count(), model, mem_kb / (1 << 20),
        platform.platform())


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


def measure(row, cmd, cwd, out_path, runs, args, check=None, stdout_path=None):
    # row["kind"] == "inexact": a peer timed even when its output differs from
    # ours, shown for information and never counted as the fastest peer.
    """Warm-up run, optional check of its output, then the timed runs."""
    if out_path and os.path.exists(out_path):
        os.remove(out_path)
    warm = run_once(cmd, cwd, args.timeout, stdout_path)
    if warm.timed_out:
        row["status"] = "timeout (> %d s)" % args.timeout
        return row
    if warm.rc != 0:
        row["status"] = "exit status %d" % warm.rc
        return row
    if check:
        err = check()
        if err and row["kind"] == "inexact":
            row["status"] = "differs, not counted as a peer: " + err
        elif err:
            row["status"] = "OUTPUT DIFFERS, not timed: " + err
            print("    %s: output differs from ours: %s" % (row["tool"], err), flush=True)
            return row
        else:
            row["status"] = "checked equal"
    n = runs
    if warm.wall > args.slow and runs > 1:
        n = 1
        row["note"] = "slow: 1 timed run (warm-up took %.0f s)" % warm.wall
    times = []
    for _ in range(n):
        if out_path and os.path.exists(out_path):
            os.remove(out_path)
        r = run_once(cmd, cwd, args.timeout, stdout_path)
        if r.timed_out:
            row["status"] = "timeout (> %d s)" % args.timeout
            return row
        times.append(r)
    row["runs"] = n
    row["walls"] = [round(r.wall, 4) for r in times]
    row["wall"] = median([r.wall for r in times])
    row["cpu"] = median([r.user + r.sys for r in times])
    row["user"] = median([r.user for r in times])
    row["sys"] = median([r.sys for r in times])
    row["rss_mib"] = max(r.rss_kib for r in times + [warm]) / 1024
    row["mbps"] = row["log_bytes"] / 1e6 / row["wall"]
    return row


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

    d = lambda name: os.path.join(scratch, "%s.%s" % (size, name))
    ours_mat, ours_log = d("tracepack.mat"), d("traceunpack.log")
    peers = os.path.join(HERE, "peers")
    octave = ["octave-cli", "-q", "--norc", "--no-history"]
    rows = []

    def base(direction, key, tool, kind):
        return {"size": size, "direction": direction, "key": key, "tool": tool,
                "kind": kind, "log_bytes": log_bytes, "runs": 0, "status": "",
                "note": "", "fields": fields, "samples": samples,
                "limit_mib": limit_mib if kind == "ours" else None}

    def go(direction, key, tool, kind, cmd, out, check=None, stdout_path=None):
        row = base(direction, key, tool, kind)
        if "%s:%s" % (key, size) in args.skip:
            row["status"] = "skipped (--skip %s:%s)" % (key, size)
            print("    %-42s skipped" % tool, flush=True)
            rows.append(row)
            return row
        measure(row, cmd, scratch, out, runs, args, check, stdout_path)
        if "wall" in row:
            print("    %-42s %8.3f s wall %8.3f s cpu %8.1f MB/s %8.1f MiB  %s %s"
                  % (tool, row["wall"], row["cpu"], row["mbps"], row["rss_mib"],
                     row["status"], row["note"]), flush=True)
        else:
            print("    %-42s %s" % (tool, row["status"]), flush=True)
        rows.append(row)
        return row

    # ---- log -> MAT
    print("  log -> MAT (load %s)" % uptime_load(), flush=True)
    go("log->MAT", "cat", "floor: cat log > /dev/null", "floor", ["cat", log], None)
    go("log->MAT", "tracepack", "tracepack", "ours",
           [os.path.join(build, "tracepack"), log, ours_mat], ours_mat)
    if os.path.exists(ours_mat):
        mat_check = lambda out: (lambda: compare("mat", ours_mat, out))
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
    if not os.path.exists(ours_mat):
        print("    no MAT-file from tracepack: MAT -> log skipped", flush=True)
        return rows
    mat_bytes = os.path.getsize(ours_mat)
    go("MAT->log", "cat-mat", "floor: cat MAT > /dev/null", "floor", ["cat", ours_mat], None)
    go("MAT->log", "cp-log", "floor: cp log (write)", "floor",
       ["cp", log, d("copy.log")], d("copy.log"))
    if os.path.exists(d("copy.log")):
        os.remove(d("copy.log"))
    unpack = os.path.join(build, "traceunpack")
    if os.path.exists(unpack):
        # traceunpack's output must give back the generated log's values, byte for byte
        go("MAT->log", "traceunpack", "traceunpack", "ours",
           [unpack, ours_mat, ours_log], ours_log, lambda: compare("log", log, ours_log))
    else:
        row = base("MAT->log", "traceunpack", "traceunpack", "ours")
        row["status"] = "not built"
        rows.append(row)
        print("    traceunpack not built", flush=True)
    ref_log = ours_log if os.path.exists(ours_log) else log
    log_check = lambda out: (lambda: compare("log", ref_log, out))
    go("MAT->log", "scipy", "scipy loadmat + numpy.savetxt", "peer",
       [PY, os.path.join(peers, "scipy_unpack.py"), ours_mat, d("scipy.log")], d("scipy.log"),
       log_check(d("scipy.log")))
    go("MAT->log", "octave-unpack", "octave load + fprintf", "peer",
       octave + [os.path.join(peers, "octave_unpack.m"), ours_mat, d("octave.log")],
       d("octave.log"), log_check(d("octave.log")))
    for row in rows:
        row["mat_bytes"] = mat_bytes
    for name in ("numpy.mat", "pandas.mat", "octave.mat", "scipy.log", "octave.log"):
        if os.path.exists(d(name)):
            os.remove(d(name))
    print("  done (load %s)" % uptime_load(), flush=True)
    return rows


def judge(rows):
    """Ratios of ours to the fastest peer, and the targets."""
    for direction in ("log->MAT", "MAT->log"):
        for size in SIZES:
            group = [r for r in rows if r["size"] == size and r["direction"] == direction]
            peers = [r for r in group if r["kind"] == "peer" and "wall" in r]
            for r in group:
                if r["kind"] != "ours" or "wall" not in r:
                    continue
                if peers:
                    fw = min(peers, key=lambda p: p["wall"])
                    fc = min(peers, key=lambda p: p["cpu"])
                    r["fastest_peer"] = fw["tool"]
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
                r["mem_target"] = "PASS" if r["rss_mib"] <= r["limit_mib"] else "FAIL"


def fmt(v, pattern):
    return "" if v is None or v == "" else pattern % v


def table(rows):
    head = ["size", "direction", "tool", "runs", "median wall s", "median cpu s",
            "MB/s", "peak RSS MiB", "ours vs fastest peer (wall)", "(cpu)",
            "10x target", "RSS limit MiB", "memory target", "check / note"]
    out = []
    for r in rows:
        out.append([r["size"], r["direction"], r["tool"], str(r.get("runs", "")),
                    fmt(r.get("wall"), "%.3f"), fmt(r.get("cpu"), "%.3f"),
                    fmt(r.get("mbps"), "%.1f"), fmt(r.get("rss_mib"), "%.0f"),
                    fmt(r.get("ratio_wall"), "%.1fx"), fmt(r.get("ratio_cpu"), "%.1fx"),
                    r.get("speed_target", ""),
                    fmt(r.get("limit_mib"), "%.0f"), r.get("mem_target", ""),
                    "; ".join(x for x in (r["status"], r["note"]) if x)])
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
    args = ap.parse_args(argv[1:])
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

    started = datetime.datetime.now()
    print("trace benchmark, %s" % started.strftime("%Y-%m-%d %H:%M"))
    print("machine: %s" % machine_line())
    print("tree: %s" % git_head())
    print("scratch: %s; runs %s (+1 checked warm-up each); load at start %s"
          % (scratch, args.runs, uptime_load()), flush=True)
    rows = []
    loads = ["start %s" % uptime_load()]
    for s in sizes:
        rows += bench_size(s, args, build, scratch)
        loads.append("after %s %s" % (s, uptime_load()))
    judge(rows)
    head, body = table(rows)
    md = markdown(head, body)
    info = ("trace benchmark %s; machine %s; tree %s; load (1/5/15 min) %s\n"
            % (started.strftime("%Y-%m-%d %H:%M"), machine_line(), git_head(), ", ".join(loads)))
    print("\n" + info)
    print(md)
    with open(os.path.join(scratch, "results.md"), "w") as f:
        f.write(info + "\n" + md)
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
