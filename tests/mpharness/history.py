"""The card history file, decoded and written by tools/cardhist (the daemon's own layout): a dict
with reserved, slots, next_index, entries (status, type, locale, imsi, id), bytes, layout_bytes
and damage. Texts hold one code point per byte."""
import json
import subprocess

from .build import Build, HarnessError

HISTORY = "/data/vantorel/radio/radio.cfg"


def decode_history(path, build=None):
    """The decoded file at `path`; damage is listed, not raised."""
    build = build or Build()
    result = subprocess.run([build.cardhist, "--json", path], capture_output=True, text=True,
                            timeout=60)
    if result.returncode not in (0, 1) or not result.stdout:
        raise HarnessError("cardhist --json %s failed (%d): %s"
                           % (path, result.returncode, result.stderr.strip()))
    return json.loads(result.stdout)


def encode_history(fields, path, build=None):
    """Writes the file `fields` describes (absent keys and None entries are zeros) to `path`."""
    build = build or Build()
    result = subprocess.run([build.cardhist, "--encode", path], input=json.dumps(fields),
                            capture_output=True, text=True, timeout=60)
    if result.returncode != 0:
        raise HarnessError("cardhist --encode %s failed (%d): %s"
                           % (path, result.returncode, result.stderr.strip()))
