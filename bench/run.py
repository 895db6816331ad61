#!/usr/bin/env python3
"""Benchmarks of the host daemon against the modem simulator; prints a table, writes JSON.

    bench/run.sh [--quick] [--json FILE] [--build DIR]

(run.sh puts tools/, the harness package's directory, on PYTHONPATH and runs this file.)

--quick takes every figure once with small counts (for CI: it fails only when a tool breaks,
never on a figure). See bench/README.md for what each figure means.
"""
import argparse
import json
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

try:
    from mpharness import REPO, Build, HarnessError
    from mpharness.cli import ArgumentParser
except ImportError:
    sys.exit("bench: the harness package mpharness is not importable: run bench/run.sh")

import allocs  # noqa: E402  (after the check above)
from mandated import mandated  # noqa: E402
from rig import Rig, ToolError, proc_cpu_ms, proc_stat_cpu_ms, proc_status  # noqa: E402


def positive(text):
    try:
        value = int(text)
    except ValueError:
        value = 0
    if value < 1:
        raise argparse.ArgumentTypeError("%r is not a whole number of at least 1" % text)
    return value


def parse_args():
    parser = ArgumentParser(
        prog="bench/run.sh", description=__doc__.splitlines()[0],
        epilog="Exit status: 0 done, 1 a tool or the daemon failed, 2 a bad command line. "
               "Every figure is explained in bench/README.md.")
    parser.add_argument("--quick", action="store_true", help="one pass, small counts (CI)")
    parser.add_argument("--json", help="output file (default <build>/bench.json)")
    parser.add_argument("--build", help="build tree (default $MODEMPREP_BUILD, else build/)")
    parser.add_argument("--runs", type=positive,
                        help="start-up/hot-plug runs (default 12, quick 1)")
    args = parser.parse_args()
    args.build = Build(args.build)
    args.runs = args.runs or (1 if args.quick else 12)
    args.idle_s = 2 if args.quick else 10
    args.exchanges = 200 if args.quick else 5000
    args.min_time = 0.01 if args.quick else 0.5
    args.json = args.json or args.build.path("bench.json")
    return args


# ---- helpers ---------------------------------------------------------------------------------
def stats(values):
    """Median and spread of a list of numbers (nearest-rank percentiles)."""
    ordered = sorted(values)
    rank = lambda q: ordered[min(len(ordered) - 1, int(q * len(ordered)))]  # noqa: E731
    return {"median": round(statistics.median(ordered), 3), "min": round(ordered[0], 3),
            "max": round(ordered[-1], 3), "p10": round(rank(0.1), 3), "p90": round(rank(0.9), 3),
            "n": len(ordered)}


def tool(build, *parts):
    path = build.path(*parts)
    if not os.access(path, os.X_OK):
        raise ToolError("missing %s: build it first (see bench/README.md)" % path)
    return path


def run_checked(argv, **kwargs):
    result = subprocess.run(argv, capture_output=True, text=True, **kwargs)
    if result.returncode != 0:
        raise ToolError("%s failed (%d): %s" % (argv[0], result.returncode, result.stderr[-2000:]))
    return result.stdout


def window_sample(rig, log_from, started, records, cpu_before):
    """Wall, mandated and overhead ms from `started` to the last init request seen, and the
    daemon's CPU over that span (cpu_before: (schedstat ms, utime + stime ms) at the start)."""
    seen, _, cpu, stat_cpu = records[-1]
    wall = (seen - started) * 1000.0
    lines = rig.phone.build.records("--all", "-", text=rig.log()[log_from:])[1]
    must, breakdown, exchanges = mandated(lines, rig.scenario)
    return {"wall_ms": wall, "mandated_ms": must, "overhead_ms": wall - must,
            "cpu_ms": cpu - cpu_before[0], "stat_cpu_ms": stat_cpu - cpu_before[1],
            "init_requests": records[-1][1],
            "exchanges": exchanges, "mandated_breakdown": breakdown}


# ---- figures 1 and 2: start-up and hot-plug --------------------------------------------------
def startup_sample(rig):
    started = rig.spawn()
    records = rig.wait_resident()
    if not records:
        raise ToolError("no init request during start-up")
    return window_sample(rig, 0, started, records, (0.0, 0.0))


def hotplug_sample(rig, slot, present):
    rig.quiet_card_change(slot, present)
    log_from, before = len(rig.log()), rig.init_lines()
    cpu_before = (rig.cpu_ms(), rig.stat_cpu_ms())
    sent = rig.send_uevent(slot, present)
    records = rig.wait_requests_settled(before)
    sample = window_sample(rig, log_from, sent, records, cpu_before)
    sample["init_requests"] -= before
    return sample


def summarize(samples):
    keys = ("wall_ms", "mandated_ms", "overhead_ms", "cpu_ms", "stat_cpu_ms")
    out = {key: stats([s[key] for s in samples]) for key in keys}
    out["mandated_breakdown"] = samples[0]["mandated_breakdown"]
    out["init_requests"] = samples[0]["init_requests"]
    out["exchanges"] = samples[0]["exchanges"]
    return out


def figure_startup_and_hotplug(args):
    """Start-up, then card 1 removed and inserted again, each run in a fresh root. The last
    root stays up for the idle and memory figures."""
    runs = {"startup": [], "hotplug_remove": [], "hotplug_insert": []}
    rig = None
    for index in range(args.runs):
        rig = Rig(args.build)
        try:
            runs["startup"].append(startup_sample(rig))
            runs["hotplug_remove"].append(hotplug_sample(rig, 1, False))
            runs["hotplug_insert"].append(hotplug_sample(rig, 1, True))
        except BaseException:
            rig.close()
            raise
        if index < args.runs - 1:
            rig.close()
    return {name: summarize(samples) for name, samples in runs.items()}, rig


# ---- figure 4: idle -------------------------------------------------------------------------
def wakeups(pid):
    status = proc_status(pid)
    return int(status["voluntary_ctxt_switches"]) + int(status["nonvoluntary_ctxt_switches"])


def figure_idle(rig, seconds):
    time.sleep(0.5)  # past the last pause of the reconfiguration
    pid = rig.daemon.pid
    cpu0, stat0, switches0 = proc_cpu_ms(pid), proc_stat_cpu_ms(pid), wakeups(pid)
    time.sleep(seconds)
    return {"seconds": seconds, "cpu_ms": round(proc_cpu_ms(pid) - cpu0, 6),
            "stat_cpu_ms": proc_stat_cpu_ms(pid) - stat0, "wakeups": wakeups(pid) - switches0}


# ---- figure 5: memory -----------------------------------------------------------------------
def figure_memory(rig, build):
    status = proc_status(rig.daemon.pid)
    binary = tool(build, "modemprep")
    text, data, bss = (int(v) for v in run_checked(["size", binary]).splitlines()[1].split()[:3])
    return {"vmhwm_kb": int(status["VmHWM"].split()[0]), "vmrss_kb": int(status["VmRSS"].split()[0]),
            "binary_bytes": os.path.getsize(binary), "text": text, "data": data, "bss": bss}


def wait_dump(path, number, timeout=10):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            with open(path) as f:
                text = f.read()
            if text.startswith("dump %d\n" % number):
                return text
        except FileNotFoundError:
            pass
        time.sleep(0.02)
    raise ToolError("allocount wrote no dump %d to %s" % (number, path))


def figure_allocations(build):
    library = tool(build, "tools", "allocount", "liballocount.so")
    rig = Rig(build)
    try:
        out = rig.path("/log/allocount.txt")
        rig.spawn(env={"LD_PRELOAD": library, "ALLOCOUNT_OUT": out})
        rig.wait_resident()
        rig.signal(signal.SIGUSR1)
        at_start = allocs.parse(wait_dump(out, 1))
        rig.quiet_card_change(1, False)
        before = rig.init_lines()
        rig.send_uevent(1, False)
        rig.wait_requests_settled(before)
        rig.signal(signal.SIGUSR1)
        after_hotplug = allocs.parse(wait_dump(out, 2))
        return allocs.report(at_start, after_hotplug, tool(build, "modemprep"))
    finally:
        rig.close()


# ---- figure 6: instruction counts -----------------------------------------------------------
def figure_callgrind(build):
    if shutil.which("valgrind") is None:
        raise ToolError("valgrind is not installed")
    rig = Rig(build)
    try:
        out = rig.path("/log/callgrind.out")
        rig.spawn(prefix=["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out])
        rig.wait_resident(timeout=300)
        # The daemon now waits in recv(): SIGTERM ends it, and callgrind writes its profile on
        # the way out as for any fatal signal.
        rig.signal(signal.SIGTERM)
        rig.daemon.wait(60)
        with open(out) as f:
            totals = [line for line in f if line.startswith(("summary:", "totals:"))]
        if not totals:
            raise ToolError("callgrind wrote no totals to " + out)
        ir = int(totals[-1].split()[1])
        top = run_checked(["callgrind_annotate", "--threshold=99", out])
        # The dynamic loader's work before main() (libstdc++'s relocations, mostly) is most of
        # the total and no concern of the daemon's code: main()'s inclusive cost is given apart.
        inclusive = run_checked(["callgrind_annotate", "--inclusive=yes", "--threshold=100", out])
        in_main = re.search(r"^\s*([\d,]+) \(\s*[\d.]+%\)\s+\S*:main \[", inclusive, re.M)
        if in_main is None:
            raise ToolError("callgrind_annotate shows no main() in " + out)
        return {"instructions": ir, "main_instructions": int(in_main.group(1).replace(",", "")),
                "top": callgrind_top(top, 8)}
    finally:
        rig.close()


def callgrind_top(text, count):
    rows = []
    for line in text.splitlines():
        match = re.match(r"^\s*([\d,]+) \(\s*[\d.]+%\)\s+(\S.*?)\s*$", line)
        if match and "PROGRAM TOTALS" not in line:
            rows.append({"ir": int(match.group(1).replace(",", "")), "function": match.group(2)})
    return rows[:count]


# ---- figure 3: one AT exchange --------------------------------------------------------------
def strace_counts(bench, exchanges):
    with tempfile.NamedTemporaryFile("r", suffix=".strace") as table:
        subprocess.run(["strace", "-c", "-o", table.name, bench, "--exchanges=%d" % exchanges],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        counts = {}
        for line in table.read().splitlines():
            fields = line.split()
            if len(fields) >= 5 and fields[-1] != "total" and fields[3].isdigit():
                counts[fields[-1]] = int(fields[3])
        return counts


def syscalls_per_exchange(bench, exchanges):
    """(c(2N) - c(N)) / N per call: start-up and tear-down cancel out."""
    once, twice = strace_counts(bench, exchanges), strace_counts(bench, 2 * exchanges)
    per = {name: round((twice.get(name, 0) - once.get(name, 0)) / exchanges, 3)
           for name in set(once) | set(twice)}
    return {name: value for name, value in sorted(per.items()) if value}


def counted_cpu(bench, exchanges, peer):
    """The caller's CPU and wall time per exchange, the peer in a child process."""
    line = run_checked([bench, "--exchanges=%d" % exchanges, "--peer=" + peer])
    result = json.loads(line)
    return {"cpu_us": result["cpu_s"] * 1e6 / exchanges,
            "wall_us": result["wall_s"] * 1e6 / exchanges}


def google_benchmark(bench, min_time):
    with tempfile.NamedTemporaryFile("r", suffix=".json") as out:
        subprocess.run([bench, "--benchmark_min_time=%g" % min_time, "--benchmark_out=" + out.name,
                        "--benchmark_out_format=json"], stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=True)
        report = json.load(out)
    return {b["name"]: {"cpu_ns": round(b["cpu_time"], 1), "real_ns": round(b["real_time"], 1),
                        "iterations": b["iterations"]} for b in report["benchmarks"]}


def figure_at_exchange(args):
    bench = tool(args.build, "bench", "at_exchange_bench")
    if shutil.which("strace") is None:
        raise ToolError("strace is not installed")
    per = syscalls_per_exchange(bench, args.exchanges)
    return {"syscalls": round(sum(per.values()), 3), "syscalls_by_name": per,
            "socket": counted_cpu(bench, args.exchanges * 4, "socket"),
            "pty": counted_cpu(bench, args.exchanges * 4, "pty"),
            "google_benchmark": google_benchmark(bench, args.min_time)}


# ---- output ---------------------------------------------------------------------------------
def flatten(result):
    """The figures compare.py sets side by side: name -> value (lower is better for all)."""
    flat = {}
    for phase in ("startup", "hotplug_remove", "hotplug_insert"):
        for key in ("wall_ms", "mandated_ms", "overhead_ms", "cpu_ms"):
            for stat in ("median", "p10", "p90") if key == "overhead_ms" else ("median",):
                flat["%s.%s.%s" % (phase, key, stat)] = result[phase][key][stat]
    at = result["at_exchange"]
    flat["at_exchange.syscalls"] = at["syscalls"]
    flat["at_exchange.socket.cpu_us"] = round(at["socket"]["cpu_us"], 3)
    flat["at_exchange.pty.cpu_us"] = round(at["pty"]["cpu_us"], 3)
    for name, figures in at["google_benchmark"].items():
        flat["at_exchange.%s.cpu_ns" % name] = figures["cpu_ns"]
    flat["idle.cpu_ms"] = result["idle"]["cpu_ms"]
    flat["idle.wakeups"] = result["idle"]["wakeups"]
    for key in ("vmhwm_kb", "binary_bytes", "text", "data", "bss"):
        flat["memory.%s" % key] = result["memory"][key]
    for phase in ("startup", "hotplug"):
        for key in ("calls", "bytes", "daemon_code_calls"):
            flat["allocations.%s.%s" % (phase, key)] = result["allocations"][phase][key]
    flat["callgrind.startup_instructions"] = result["callgrind"]["instructions"]
    flat["callgrind.startup_main_instructions"] = result["callgrind"]["main_instructions"]
    return flat


def print_table(result):
    print("%-52s %14s" % ("figure", "value"))
    print("-" * 67)
    for name, value in result["figures"].items():
        print("%-52s %14s" % (name, value))
    for phase in ("startup", "hotplug_remove", "hotplug_insert"):
        print("%s mandated: %s" % (phase, result[phase]["mandated_breakdown"]))
    print("syscalls per exchange: %s" % result["at_exchange"]["syscalls_by_name"])
    for phase in ("startup", "hotplug"):
        print("heap calls during %s, by caller:" % phase)
        for site in result["allocations"][phase]["sites"]:
            print("  " + site["summary"])
    print("load average: %s -> %s" % (result["load_before"], result["load_after"]))


def loadavg():
    with open("/proc/loadavg") as f:
        return f.read().strip()


def progress(text):
    print("bench: " + text, file=sys.stderr, flush=True)


def main():
    args = parse_args()
    # strace: system calls per exchange; valgrind: instructions; binutils: addr2line and size.
    packages = subprocess.run([os.path.join(REPO, "scripts", "install-packages.sh"), "strace",
                               "valgrind", "binutils", "python3"])
    if packages.returncode != 0:
        sys.exit(packages.returncode)
    args.build.check()
    begun = time.monotonic()
    result = {"quick": args.quick, "load_before": loadavg(), "build": args.build.directory}
    progress("start-up and hot-plug, %d run%s" % (args.runs, "s" if args.runs > 1 else ""))
    timing, rig = figure_startup_and_hotplug(args)
    result.update(timing)
    try:
        progress("idle for %d s, memory" % args.idle_s)
        result["idle"] = figure_idle(rig, args.idle_s)
        result["memory"] = figure_memory(rig, args.build)
    finally:
        rig.close()
    progress("heap calls")
    result["allocations"] = figure_allocations(args.build)
    progress("instructions of one start-up under callgrind")
    result["callgrind"] = figure_callgrind(args.build)
    progress("one AT exchange (%d exchanges, Google Benchmark)" % args.exchanges)
    result["at_exchange"] = figure_at_exchange(args)
    result["load_after"] = loadavg()
    result["seconds"] = round(time.monotonic() - begun, 1)
    result["figures"] = flatten(result)
    try:
        os.makedirs(os.path.dirname(os.path.abspath(args.json)), exist_ok=True)
        with open(args.json, "w") as f:
            json.dump(result, f, indent=2)
    except OSError as error:
        raise ToolError("%s: %s" % (error.filename or args.json, error.strerror))
    print_table(result)
    print("written %s in %.0f s" % (args.json, result["seconds"]))


if __name__ == "__main__":
    try:
        main()
    except (ToolError, HarnessError) as error:
        sys.exit("bench: " + str(error))
    except subprocess.CalledProcessError as error:
        sys.exit("bench: %s failed with status %d" % (" ".join(error.cmd), error.returncode))
    except OSError as error:
        sys.exit("bench: %s: %s" % (error.filename, error.strerror))
    except KeyboardInterrupt:
        sys.exit(130)
