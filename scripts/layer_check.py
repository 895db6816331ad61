"""The daemon's layer rule over the Android build: every source Android.bp compiles from src/, and
every header there, includes only the folders its own folder's library sees in the CMake build.

Soong compiles the daemon with all of src/ in view (one include folder for every module), so an
upward include would build there while the CMake build refuses it. The folders each library sees
come from the CMake build itself (layers.txt in a build directory, written at configure time from
the libraries' links), so the rule is stated once.

    python3 -m scripts.layer_check --layers build/layers.txt [--bp Android.bp]

Run from the repository's top folder (ctest does). Exit 0 when every include is allowed, 1 with a
line per include that is not, 2 on a usage error.
"""
import glob
import os
import re
import sys

from tools.mpharness.cli import ArgumentParser, InputError, check_input

SOURCE = re.compile(r'"(src/[^"]+)"')
LAYER_LINE = re.compile(r"^[a-z_]+:/[^;\n]*(;/[^;\n]*)*\n?$")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/', re.M)


def visible_folders(layers_path):
    """{folder: set of folders its library sees} from a build's layers.txt."""
    seen = {}
    with open(check_input(layers_path), errors="replace") as f:
        for number, line in enumerate(f, 1):
            if not LAYER_LINE.match(line):
                raise InputError("%s: line %d is not a folder and its include roots: not layers.txt"
                                 " of a CMake build" % (layers_path, number))
            folder, _, roots = line.strip().partition(":")
            seen.setdefault(folder, set()).update(os.path.basename(root) for root in roots.split(";"))
    if not seen:
        raise InputError("%s: empty: not layers.txt of a CMake build" % layers_path)
    return seen


def android_sources(bp_path, top):
    """The files under src/ that Android.bp names (globs expanded), and every header under src/."""
    with open(check_input(bp_path)) as f:
        patterns = SOURCE.findall(f.read())
    files = set()
    for pattern in patterns:
        files.update(glob.glob(os.path.join(top, pattern), recursive=True))
    files.update(glob.glob(os.path.join(top, "src", "**", "*.h"), recursive=True))
    return sorted(files)


def violations(files, seen, top):
    for path in files:
        relative = os.path.relpath(path, top)
        folder = relative.split(os.sep)[1]
        if folder not in seen:
            yield "%s: folder %s is no library of the CMake build" % (relative, folder)
            continue
        with open(path, errors="replace") as f:
            for included in INCLUDE.findall(f.read()):
                if included not in seen[folder]:
                    yield "%s: includes %s/, which %s does not link" % (relative, included,
                                                                      folder)


def main():
    parser = ArgumentParser(prog="python3 -m scripts.layer_check",
                            description=__doc__.split("\n\n")[0])
    parser.add_argument("--layers", required=True, help="layers.txt of a configured CMake build")
    parser.add_argument("--bp", default="Android.bp", help="the Android build file")
    args = parser.parse_args()
    top = os.path.dirname(os.path.abspath(args.bp))
    try:
        seen = visible_folders(args.layers)
        files = android_sources(args.bp, top)
    except InputError as error:
        sys.exit("layer_check: %s" % error)
    except OSError as error:
        sys.exit("layer_check: %s: %s" % (error.filename, error.strerror))
    found = list(violations(files, seen, top))
    for line in found:
        print(line)
    print("%d files checked, %d includes against the layer rule" % (len(files), len(found)))
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
