"""The Android integrations checked without a platform tree.

The property names, services and paths the daemon uses are taken from its sources, then followed
through each integration: the name map its Android backend links (compiled here with map_probe.cc),
its property contexts (with the platform's own labels where it keeps them), the rights its policy
grants, and its init script. Android.bp's modules are checked against the files they name.
"""

import glob
import os
import re
import shutil
import subprocess
import tempfile
import unittest

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))

# Backends and the Android map are not the daemon: their literals are the host property store's,
# the test double's or the map's own.
NOT_DAEMON = re.compile(
    r"(^|/)((backend|host)_[^/]*\.(cc|h)|fake_platform\.h|android_property_map\.h)$")
# Dotted literals of the daemon that are not property names (none yet).
NOT_PROPERTIES = frozenset()
# A standby number: the factory file's standby digit is capped at 5.
STANDBYS = range(5)

PROPERTY = re.compile(r"^[a-z][a-z0-9_]*(\.[A-Za-z0-9_]+)+$")
NUMBERED_PROPERTY = re.compile(r"^[a-z][a-z0-9_]*(\.[A-Za-z0-9_]+)*\.[A-Za-z0-9_]*%d$")
DOTTED = re.compile(r"^[a-z][a-z0-9_]*\.")
LITERAL = re.compile(
    r'//[^\n]*|/\*.*?\*/|R"([^(\s]*)\((.*?)\)\1"|"((?:[^"\\\n]|\\.)*)"|\'(?:[^\'\\\n]|\\.)*\'',
    re.S,
)

CONTROLS = ("ctl.start", "ctl.restart")
STATE_PREFIX = "init.svc."
# What a vendor's property contexts may declare (devices launched with Q or later).
VENDOR_PREFIXES = ("vendor.", "persist.vendor.", "ro.vendor.", "ctl.vendor.",
                   "ctl.start$vendor.", "ctl.stop$vendor.", "init.svc.vendor.")

INTEGRATIONS = {
    "platform": {
        "map": "src/platform/backend_android_map_platform.cc",
        "module": "modemprep",
        "rc": "android/platform/modemprep.rc",
        "contexts": "android/platform/sepolicy/private/property_contexts",
        "file_contexts": "android/platform/sepolicy/private/file_contexts",
        "policy": ["android/platform/sepolicy/public/modemprep.te",
                   "android/platform/sepolicy/private/modemprep.te"],
        "platform_policy": ["android/ci/public.te", "android/ci/private.te"],
    },
    "vendor": {
        "map": "src/platform/backend_android_map_vendor.cc",
        "module": "modemprep_vendor",
        "rc": "android/vendor/modemprep.rc",
        "contexts": "android/vendor/sepolicy/property_contexts",
        "file_contexts": "android/vendor/sepolicy/file_contexts",
        "policy": ["android/vendor/sepolicy/modemprep.te"],
        "platform_policy": ["android/ci/public.te"],
    },
}
PLATFORM_CONTEXTS = "android/ci/property_contexts"


def read(path):
    with open(os.path.join(ROOT, path), encoding="utf-8") as f:
        return f.read()


def string_literals(text):
    """The string literals of C++ source, comments skipped, adjacent literals joined."""
    literals, joined, last_end = [], None, None
    for match in LITERAL.finditer(text):
        value = match.group(2) if match.group(2) is not None else match.group(3)
        if value is None:  # comment or character literal
            continue
        if joined is not None and text[last_end:match.start()].strip() == "":
            joined += value
        else:
            if joined is not None:
                literals.append(joined)
            joined = value
        last_end = match.end()
    if joined is not None:
        literals.append(joined)
    return literals


def daemon_literals():
    """(file, literal) for every string literal of the daemon's own sources."""
    found = []
    for path in sorted(glob.glob(os.path.join(ROOT, "src", "**", "*.*"), recursive=True)):
        relative = os.path.relpath(path, ROOT)
        if not relative.endswith((".cc", ".h")) or NOT_DAEMON.search(relative):
            continue
        found += [(relative, literal) for literal in string_literals(read(relative))]
    return found


def expand(name):
    return [name.replace("%d", str(n)) for n in STANDBYS] if name.endswith("%d") else [name]


def read_property_contexts(path):
    """[(name, type, exact)] in file order."""
    entries = []
    for line in read(path).splitlines():
        fields = line.split()
        if not fields or fields[0].startswith("#"):
            continue
        exact = len(fields) > 2 and fields[2] == "exact"
        entries.append((fields[0], fields[1].split(":")[2], exact))
    return entries


def resolve(entries, name):
    """The entry init labels name with: an exact match, else the longest prefix, else '*'."""
    for entry in entries:
        if entry[2] and entry[0] == name:
            return entry
    prefixes = [e for e in entries if not e[2] and (e[0] == "*" or name.startswith(e[0]))]
    if not prefixes:
        return None
    return max(prefixes, key=lambda e: -1 if e[0] == "*" else len(e[0]))


def policy_rights(paths):
    """Declared types, and the property types modemprep may set and get, from .te files."""
    text = "\n".join(read(p) for p in paths)
    declared = set(re.findall(r"^\s*type\s+(\w+)\s*[,;]", text, re.M))
    declared |= set(re.findall(r"^\s*\w+_prop\((\w+)\)", text, re.M))
    can_set = set(re.findall(r"\bset_prop\(\s*modemprep\s*,\s*(\w+)\s*\)", text))
    can_get = can_set | set(re.findall(r"\bget_prop\(\s*modemprep\s*,\s*(\w+)\s*\)", text))
    return declared, can_set, can_get


def read_init_script(path):
    """(services {name: (argv, options)}, actions [(trigger, [command argv])])."""
    services, actions, current = {}, [], None
    for line in read(path).splitlines():
        words = line.split()
        if not words or words[0].startswith("#"):
            continue
        if words[0] == "service":
            current = services.setdefault(words[1], (words[2:], []))[1]
        elif words[0] == "on":
            current = []
            actions.append((" ".join(words[1:]), current))
        else:
            current.append(words)
    return services, actions


class Blueprint:
    """Just enough of Blueprint's syntax for Android.bp: modules of strings, bools, lists, maps."""

    TOKEN = re.compile(r'\s+|//[^\n]*|/\*.*?\*/|"((?:[^"\\]|\\.)*)"|(\w+)|([{}\[\]:,=+])', re.S)

    def __init__(self, text):
        self.tokens = []
        for m in self.TOKEN.finditer(text):
            if m.group(1) is not None:
                self.tokens.append(("str", m.group(1)))
            elif m.group(2) is not None:
                self.tokens.append(("word", m.group(2)))
            elif m.group(3) is not None:
                self.tokens.append(("punct", m.group(3)))
        self.pos = 0
        self.modules = []
        while self.pos < len(self.tokens):
            kind = self.take("word")
            if self.peek() == ("punct", "="):
                self.take("punct")
                self.value()
            else:
                self.modules.append((kind, self.value()))

    def peek(self):
        return self.tokens[self.pos] if self.pos < len(self.tokens) else (None, None)

    def take(self, kind):
        token = self.peek()
        if token[0] != kind:
            raise ValueError(f"Android.bp: expected {kind}, found {token}")
        self.pos += 1
        return token[1]

    def value(self):
        kind, text = self.peek()
        if kind == "str":
            self.pos += 1
            return text
        if kind == "word":
            self.pos += 1
            return {"true": True, "false": False}.get(text, text)
        opening = self.take("punct")
        result = [] if opening == "[" else {}
        while self.peek() != ("punct", "]" if opening == "[" else "}"):
            if opening == "[":
                result.append(self.value())
            else:
                key = self.take("word")
                self.take("punct")
                result[key] = self.value()
            if self.peek() == ("punct", ","):
                self.pos += 1
        self.pos += 1
        return result


class AndroidIntegrationTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        literals = daemon_literals()
        cls.properties, cls.services, cls.paths = set(), set(), set()
        unusable = []
        for path, literal in literals:
            if literal.startswith("/"):
                cls.paths.add(literal)
            if literal in NOT_PROPERTIES or not DOTTED.match(literal):
                continue
            if PROPERTY.match(literal) or NUMBERED_PROPERTY.match(literal):
                cls.properties.add(literal)
            elif " " not in literal and "\n" not in literal:
                unusable.append(f"{path}: {literal!r}")
        if unusable:
            raise AssertionError("property names this test cannot check (partial or formatted "
                                 "otherwise than with a trailing %d): " + ", ".join(unusable))
        all_literals = {literal for _, literal in literals}
        for name in cls.properties:
            if name.startswith(STATE_PREFIX):
                service = name[len(STATE_PREFIX):]
                if service not in all_literals:
                    raise AssertionError(f"the daemon reads {name} but never names {service}")
                cls.services.add(service)
        for anchor in CONTROLS:
            if anchor not in cls.properties:
                raise AssertionError(f"{anchor} not found in the daemon's sources")
        if not cls.services:
            raise AssertionError("no init.svc. name found in the daemon's sources")

        cls.workdir = tempfile.TemporaryDirectory()
        compiler = os.environ.get("CXX") or shutil.which("c++") or shutil.which("g++")
        cls.probes = {}
        for name, integration in INTEGRATIONS.items():
            probe = os.path.join(cls.workdir.name, f"map_probe_{name}")
            subprocess.run([compiler, "-std=c++17", "-Wall", "-Wextra", "-Werror", "-I",
                            os.path.join(ROOT, "src"), os.path.join(ROOT, integration["map"]),
                            os.path.join(ROOT, "tests", "android", "map_probe.cc"), "-o", probe],
                           check=True)
            cls.probes[name] = probe

    @classmethod
    def tearDownClass(cls):
        cls.workdir.cleanup()

    def ask(self, integration, queries):
        """What the integration's map answers to each query (None for '-')."""
        out = subprocess.run([self.probes[integration]] + queries, check=True,
                             capture_output=True, text=True).stdout.splitlines()
        self.assertEqual(len(out), len(queries))
        return [None if answer == "-" else answer for answer in out]

    def names(self):
        return sorted(n for name in self.properties for n in expand(name))

    def mapped(self, integration):
        names = self.names()
        return dict(zip(names, self.ask(integration, [f"name:{n}" for n in names])))

    def service_of(self, integration, service):
        return self.ask(integration, [f"value:ctl.start={service}"])[0]

    def test_vendor_map_covers_every_property_in_its_namespace(self):
        vendor = self.mapped("vendor")
        for name, target in vendor.items():
            with self.subTest(name=name):
                self.assertIsNotNone(target, "no vendor name")
                if name in CONTROLS:
                    self.assertEqual(target, name)
                elif name.startswith(STATE_PREFIX):
                    self.assertTrue(target.startswith("init.svc.vendor."), target)
                elif name.startswith("persist."):
                    self.assertTrue(target.startswith("persist.vendor."), target)
                elif name.startswith("ro."):
                    self.assertTrue(target.startswith("ro.vendor."), target)
                else:
                    self.assertTrue(target.startswith("vendor."), target)
        targets = [t for t in vendor.values() if t is not None]
        self.assertEqual(len(targets), len(set(targets)), "two names share a vendor name")

    def test_platform_map_changes_nothing(self):
        for name, target in self.mapped("platform").items():
            self.assertEqual(target, name)
        paths = sorted(self.paths)
        self.assertEqual(self.ask("platform", [f"path:{p}" for p in paths]), paths)
        for service in self.services:
            for n in expand(service):
                self.assertEqual(self.service_of("platform", n), n)

    def test_service_state_follows_the_started_service(self):
        # The daemon reads init.svc.<service> to decide whether to start <service>: in both
        # integrations the state it reads must be that of the service it starts.
        for integration in INTEGRATIONS:
            for service in self.services:
                for n in expand(service):
                    with self.subTest(integration=integration, service=n):
                        started = [self.ask(integration, [f"value:{c}={n}"])[0] for c in CONTROLS]
                        self.assertIsNotNone(started[0])
                        self.assertEqual(started[0], started[1])
                        state = self.ask(integration, [f"name:{STATE_PREFIX}{n}"])[0]
                        self.assertEqual(state, STATE_PREFIX + started[0])
                        if integration == "vendor":
                            self.assertTrue(started[0].startswith("vendor."), started[0])
        self.assertEqual(self.ask("vendor", ["value:ctl.start=modemprep"]), [None])
        self.assertEqual(self.ask("vendor", ["value:persist.sys.vx.msms=rild0"]), ["rild0"])

    def test_vendor_paths(self):
        paths = sorted(self.paths)
        data = [p for p in paths if p.startswith("/data/")]
        self.assertTrue(data, "no data path found in the daemon's sources")
        for path, target in zip(paths, self.ask("vendor", [f"path:{p}" for p in paths])):
            with self.subTest(path=path):
                if path in data:
                    self.assertTrue(target.startswith("/data/vendor/radio/"), target)
                    self.assertEqual(os.path.basename(target), os.path.basename(path))
                else:
                    self.assertEqual(target, path)

    def test_property_contexts_label_every_name_with_a_type_the_policy_grants(self):
        platform_entries = read_property_contexts(PLATFORM_CONTEXTS)
        for integration, files in INTEGRATIONS.items():
            own = read_property_contexts(files["contexts"])
            declared, can_set, can_get = policy_rights(files["policy"] + files["platform_policy"])
            for name, _, _ in own:
                with self.subTest(integration=integration, entry=name):
                    if integration == "vendor":
                        self.assertTrue(name.startswith(VENDOR_PREFIXES), "not a vendor name")
                    else:
                        self.assertFalse(name.startswith(VENDOR_PREFIXES), "a vendor name")
                        self.assertNotIn(name, [e[0] for e in platform_entries],
                                         "the platform labels it already")
            entries = own if integration == "vendor" else own + platform_entries
            for _, type_, _ in entries:
                self.assertIn(type_, declared, f"{integration}: type {type_} not declared")
            names = self.mapped(integration)
            for name, target in names.items():
                with self.subTest(integration=integration, name=name):
                    if name in CONTROLS:
                        continue
                    self.assertIsNotNone(target, f"no name for {name}")
                    entry = resolve(entries, target)
                    self.assertIsNotNone(entry, "unlabelled")
                    rights = can_get if name.startswith(STATE_PREFIX) else can_set
                    self.assertIn(entry[1], rights, f"labelled {entry[1]} by {entry[0]!r}")
            # init allows ctl.<action> of a service by ctl.<service> (ctl.start, ctl.stop and
            # ctl.restart) or by ctl.<action>$<service>.
            for service in self.services:
                for n in expand(service):
                    target = self.service_of(integration, n)
                    for control in CONTROLS:
                        with self.subTest(integration=integration, control=control, service=n):
                            labels = [resolve(entries, f"ctl.{target}"),
                                      resolve(entries, f"{control}${target}")]
                            self.assertTrue(any(e and e[1] in can_set for e in labels), labels)

    def test_init_scripts(self):
        for integration, files in INTEGRATIONS.items():
            with self.subTest(integration=integration):
                services, actions = read_init_script(files["rc"])
                daemon = [s for s, (argv, _) in services.items() if argv[0].endswith("/modemprep")]
                self.assertEqual(len(daemon), 1)
                argv, options = services[daemon[0]]
                self.assertIn(["oneshot"], options)
                self.assertIn(["disabled"], options)
                exec_label = re.search(r"^(\S+)\s+u:object_r:modemprep_exec:s0",
                                       read(files["file_contexts"]), re.M)
                self.assertEqual(argv[0], exec_label.group(1))
                # Every other service is a rild instance the daemon starts, declared disabled;
                # a dual-SIM phone has the first two.
                started = [self.service_of(integration, n)
                           for service in self.services for n in expand(service)]
                for service, (_, options) in services.items():
                    if service != daemon[0]:
                        self.assertIn(service, started)
                        self.assertIn(["disabled"], options, service)
                for n in (0, 1):
                    self.assertIn(self.service_of(integration, f"rild{n}"), services)

                properties = set(self.mapped(integration).values())
                known = properties | {STATE_PREFIX + s for s in services}
                known |= {"ro.persistent_properties.ready"}
                data_paths = sorted(p for p in self.paths if p.startswith("/data/"))
                data_dirs = {os.path.dirname(p) for p in
                             self.ask(integration, [f"path:{p}" for p in data_paths])}
                made = []
                for trigger, commands in actions:
                    for condition in re.findall(r"property:([^=\s]+)=", trigger):
                        self.assertTrue(condition in known, f"unknown {condition} in {trigger!r}")
                    for command in commands:
                        if command[0] == "start":
                            self.assertIn(command[1], services)
                        if command[0] == "mkdir":
                            made.append(command[1])
                            if integration == "vendor":
                                self.assertTrue(command[1].startswith("/data/vendor/"), command)
                self.assertLessEqual(data_dirs, set(made))
                if integration == "vendor":
                    # The framework's multi-SIM property, copied by vendor_init.
                    own = self.mapped("vendor")["persist.radio.multisim.config"]
                    self.assertIn(["setprop", "persist.radio.multisim.config", "${" + own + "}"],
                                  [c for _, commands in actions for c in commands])

    def test_android_bp(self):
        modules = {m.get("name"): (kind, m) for kind, m in Blueprint(read("Android.bp")).modules}
        expected = {
            "platform": {"system_ext_specific": True},
            "vendor": {"vendor": True, "stem": "modemprep"},
        }
        for integration, files in INTEGRATIONS.items():
            with self.subTest(integration=integration):
                kind, module = modules[files["module"]]
                self.assertEqual(kind, "cc_binary")
                for key, value in expected[integration].items():
                    self.assertEqual(module.get(key), value, key)
                self.assertEqual(module.get("srcs"), [files["map"]])
                self.assertEqual(module.get("init_rc"), [files["rc"]])
                self.assertIn("modemprep_android_defaults", module.get("defaults", []))
        maps = {files["map"] for files in INTEGRATIONS.values()}
        for name, (kind, module) in modules.items():
            for key in ("srcs", "exclude_srcs", "init_rc", "license_text", "corpus"):
                for entry in module.get(key, []):
                    if entry.startswith(":"):
                        continue
                    with self.subTest(module=name, entry=entry):
                        self.assertTrue(glob.glob(os.path.join(ROOT, entry), recursive=True),
                                        "names no file")
                        if entry in maps:
                            self.assertIn(name, [f["module"] for f in INTEGRATIONS.values()])
        license_module = modules["modemprep_license"][1]
        package = [m for kind, m in Blueprint(read("Android.bp")).modules if kind == "package"]
        self.assertEqual(package[0]["default_applicable_licenses"], [license_module["name"]])


if __name__ == "__main__":
    unittest.main()
