#!/usr/bin/env python3
"""Sets the figures of two bench/run.py results side by side.

    bench/compare.py OLD.json NEW.json

Every figure is "lower is better"; the change is NEW - OLD and its percentage of OLD.
"""
import json
import sys


def load(path):
    with open(path) as f:
        result = json.load(f)
    return result.get("figures", {}), result.get("load_before", "?")


def change(old, new):
    if old is None or new is None:
        return "", ""
    delta = new - old
    percent = "%+.1f%%" % (100.0 * delta / old) if old else ("=" if delta == 0 else "new")
    return "%+.3f" % delta, percent


def main(argv):
    if len(argv) != 3:
        sys.exit(__doc__.strip())
    (old, old_load), (new, new_load) = load(argv[1]), load(argv[2])
    print("load average: old %s | new %s" % (old_load, new_load))
    print("%-52s %14s %14s %12s %9s" % ("figure", "old", "new", "change", "%"))
    print("-" * 105)
    for name in list(old) + [n for n in new if n not in old]:
        a, b = old.get(name), new.get(name)
        delta, percent = change(a, b)
        print("%-52s %14s %14s %12s %9s" % (name, "-" if a is None else a,
                                            "-" if b is None else b, delta, percent))


if __name__ == "__main__":
    main(sys.argv)
