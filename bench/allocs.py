"""Reads allocount dumps, takes the difference of two, and says where the heap calls came from.

A call site is the stack allocount recorded (return addresses). Each address is mapped to its
object through the memory map in the dump and resolved with addr2line. A site is charged to the
innermost frame in the daemon's own binary (the "caller") and classified:
- "stdio buffer": a FILE or its buffer (fopen, the first fgets/fprintf/fwrite on it),
- "runtime": no daemon frame at all (loader, C++ runtime start-up),
- "daemon code": the daemon called the allocator itself (or through something else than stdio).
"""
import collections
import os
import re
import subprocess

ALLOCATING = ("malloc", "calloc", "realloc")
STDIO = re.compile(r"^_IO_|^__GI__IO_|fopen|fdopen|fclose|fprintf|fgets|fwrite|fread|outstring")
MAP_LINE = re.compile(r"^([0-9a-f]+)-([0-9a-f]+) \S+ ([0-9a-f]+) \S+ \d+\s+(/\S.*)$")

# The file a daemon source file reads or writes through stdio.
FILE_OF_SOURCE = {
    "backend_host.cc": "property store, init.log (host backend)",
    "history.cc": "card history radio.cfg",
    "ril.cc": "rild.cfgN",
    "profile.cc": "factory file msms_config.txt",
}


def parse(text):
    """{'totals': {kind: [calls, bytes]}, 'sites': {(kind, frames): [calls, bytes]}, 'maps'}"""
    totals, sites, maps, in_maps = {}, {}, [], False
    for line in text.splitlines():
        if in_maps:
            match = MAP_LINE.match(line)
            if match:
                start, end, offset = (int(match.group(i), 16) for i in (1, 2, 3))
                maps.append((start, end, offset, match.group(4)))
            continue
        fields = line.split()
        if line == "maps":
            in_maps = True
        elif fields and fields[0] == "total":
            totals[fields[1]] = [int(fields[2]), int(fields[3])]
        elif fields and fields[0] == "site":
            key = (fields[1], tuple(int(a, 16) for a in fields[4:]))
            sites[key] = [int(fields[2]), int(fields[3])]
    return {"totals": totals, "sites": sites, "maps": maps}


def _minus(after, before):
    out = {}
    for key, (calls, size) in after.items():
        was = before.get(key, [0, 0])
        if calls - was[0] > 0:
            out[key] = [calls - was[0], size - was[1]]
    return out


def _locate(address, maps, bases):
    for start, end, _, path in maps:
        if start <= address < end:
            return path, address - bases.get(path, start)
    return None, address


def resolve(addresses, maps):
    """address -> (object file name, function, source file), one addr2line call per object."""
    bases = {}
    for start, _, offset, path in maps:
        if offset == 0:
            bases.setdefault(path, start)
    by_object, out = collections.defaultdict(list), {}
    for address in addresses:
        path, relative = _locate(address, maps, bases)
        if path is None:
            out[address] = ("?", "??", "??")
        else:
            by_object[path].append((address, relative))
    for path, pairs in by_object.items():
        # A return address points after the call: look up the call itself.
        argv = ["addr2line", "-f", "-C", "-e", path] + ["%x" % (r - 1) for _, r in pairs]
        lines = subprocess.run(argv, capture_output=True, text=True).stdout.splitlines()
        for i, (address, _) in enumerate(pairs):
            function = lines[2 * i] if 2 * i < len(lines) else "??"
            where = lines[2 * i + 1] if 2 * i + 1 < len(lines) else "??"
            out[address] = (os.path.basename(path), short_name(function),
                            os.path.basename(where.split(":")[0]))
    return out


def short_name(function):
    function = function.replace("(anonymous namespace)::", "")
    function = re.sub(r" \[clone [^]]*\]", "", function)
    return re.sub(r"\(.*\)( const)?$", "", function)


def classify(frames, names, daemon):
    """(category, file or function, daemon caller) of one call stack."""
    inner = next((i for i, a in enumerate(frames) if names[a][0] == daemon), None)
    if inner is None:
        return "runtime", "", " < ".join(names[a][1] for a in frames[:3])
    _, function, source = names[frames[inner]]
    caller = "%s (%s)" % (function, source)
    via = [names[a][1] for a in frames[:inner]]
    if via and any(STDIO.search(name) for name in via):
        return "stdio buffer", FILE_OF_SOURCE.get(source, "a stdio file"), caller
    return "daemon code", " < ".join(via) or "direct", caller


def _phase(sites, names, daemon, totals):
    groups = collections.defaultdict(lambda: [0, 0])
    for (kind, frames), (calls, size) in sites.items():
        if kind in ALLOCATING:
            group = groups[classify(frames, names, daemon)]
            group[0] += calls
            group[1] += size
    rows = [{"category": c, "what": w, "caller": caller, "calls": n, "bytes": b,
             "summary": "%4d calls %8d bytes  %-12s %-40s %s" % (n, b, c, w, caller)}
            for (c, w, caller), (n, b) in sorted(groups.items(), key=lambda item: -item[1][0])]
    by_category = collections.Counter()
    for row in rows:
        by_category[row["category"]] += row["calls"]
    return {"calls": sum(totals.get(k, [0, 0])[0] for k in ALLOCATING),
            "bytes": sum(totals.get(k, [0, 0])[1] for k in ALLOCATING),
            "frees": totals.get("free", [0, 0])[0], "by_category": dict(by_category),
            "daemon_code_calls": by_category.get("daemon code", 0), "sites": rows}


def report(first, second, daemon_path):
    """Allocations up to the first dump (start-up) and between the two (one hot-plug event)."""
    daemon = os.path.basename(daemon_path)
    addresses = {a for dump in (first, second) for _, frames in dump["sites"] for a in frames}
    names = resolve(addresses, second["maps"])
    return {"startup": _phase(first["sites"], names, daemon, first["totals"]),
            "hotplug": _phase(_minus(second["sites"], first["sites"]), names, daemon,
                              {k: [v[0] - first["totals"].get(k, [0, 0])[0],
                                   v[1] - first["totals"].get(k, [0, 0])[1]]
                               for k, v in second["totals"].items()})}
