#!/usr/bin/env python3
"""Sets the figures of two bench/run.py results side by side.

    python3 -m bench.compare OLD.json NEW.json    (from the repository's top folder)

Every figure is "lower is better"; the change is NEW - OLD and its percentage of OLD.
"""
import json
import sys

from tools.mpharness.cli import ArgumentParser, InputError, check_input


class Unreadable(Exception):
    pass


def load(path):
    try:
        with open(check_input(path)) as f:
            result = json.load(f)
    except InputError as error:
        raise Unreadable(str(error))
    except OSError as error:
        raise Unreadable("%s: %s" % (path, error.strerror))
    except ValueError as error:
        raise Unreadable("%s: not JSON: %s" % (path, error))
    if not isinstance(result, dict) or not isinstance(result.get("figures"), dict):
        raise Unreadable("%s: not a bench/run.py result (no \"figures\")" % path)
    return result["figures"], result.get("load_before", "?")


def change(old, new):
    if old is None or new is None:
        return "", ""
    delta = new - old
    percent = "%+.1f%%" % (100.0 * delta / old) if old else ("=" if delta == 0 else "new")
    return "%+.3f" % delta, percent


def main():
    parser = ArgumentParser(
        prog="bench/compare.py", description=__doc__.splitlines()[0],
        epilog="Every figure is lower-is-better; the change is NEW - OLD and its percentage of "
               "OLD. Exit status: 0 done, 1 a file that cannot be read, 2 a bad command line.")
    parser.add_argument("old", metavar="OLD.json", help="the earlier bench/run.py result")
    parser.add_argument("new", metavar="NEW.json", help="the later one")
    args = parser.parse_args()
    try:
        (old, old_load), (new, new_load) = load(args.old), load(args.new)
    except Unreadable as error:
        sys.exit("compare: %s" % error)
    print("load average: old %s | new %s" % (old_load, new_load))
    print("%-52s %14s %14s %12s %9s" % ("figure", "old", "new", "change", "%"))
    print("-" * 105)
    for name in list(old) + [n for n in new if n not in old]:
        a, b = old.get(name), new.get(name)
        delta, percent = change(a, b)
        print("%-52s %14s %14s %12s %9s" % (name, "-" if a is None else a,
                                            "-" if b is None else b, delta, percent))


if __name__ == "__main__":
    main()
