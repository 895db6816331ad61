"""Every property, service and path the daemon declares (its registry, printed by map_probe.cc),
followed through each Android integration: the name map its backend links (compiled here with
map_probe.cc), its property contexts (with the platform's own labels where it keeps them) and the
rights its policy grants, and its init script. The files' syntax and validity are ci-android.sh's other steps.
"""

import json
import os
import pathlib
import re
import shutil
import subprocess
import tempfile
import unittest

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
CONTROLS = ("ctl.start", "ctl.restart")
STATE = "init.svc."
INTEGRATIONS = {
    "platform": ("src/platform/android/map_platform.cc", "android/platform/modemprep.rc",
                 ["android/platform/sepolicy/private/property_contexts",
                  "android/ci/property_contexts"],
                 ["android/platform/sepolicy/public/modemprep.te",
                  "android/platform/sepolicy/private/modemprep.te"]),
    "vendor": ("src/platform/android/map_vendor.cc", "android/vendor/modemprep.rc",
               ["android/vendor/sepolicy/property_contexts"],
               ["android/vendor/sepolicy/modemprep.te"]),
}


def read(path):
    return pathlib.Path(ROOT, path).read_text(encoding="utf-8")


def expand(name):
    return [name.replace("%d", str(n)) for n in range(5)] if name.endswith("%d") else [name]


def contexts(paths):
    """[(name prefix or exact name, type, exact)] of property_contexts files."""
    lines = [line.split() for path in paths for line in read(path).splitlines()]
    return [(f[0], f[1].split(":")[2], f[2:3] == ["exact"]) for f in lines
            if f and not f[0].startswith("#")]


def label(entries, name):
    """The type init labels name with: an exact match, else the longest prefix."""
    exact = [e[1] for e in entries if e[2] and e[0] == name]
    prefixes = sorted((len(e[0]), e[1]) for e in entries if not e[2] and name.startswith(e[0]))
    return (exact or [p[1] for p in prefixes[-1:]] or [None])[0]


class AndroidIntegrationTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.workdir = tempfile.mkdtemp(prefix="mapprobe")
        cls.addClassCleanup(shutil.rmtree, cls.workdir)
        compiler = os.environ.get("CXX") or shutil.which("c++") or shutil.which("g++")
        for name, (source, *_) in INTEGRATIONS.items():
            subprocess.run([compiler, "-std=c++17", "-Wall", "-Wextra", "-Werror",
                            "-I" + os.path.join(ROOT, "src"), os.path.join(ROOT, source),
                            os.path.join(ROOT, "tests", "android", "map_probe.cc"),
                            "-o", os.path.join(cls.workdir, name)], check=True)
        # The daemon's names, from its own declarations.
        registry = json.loads(subprocess.run(
            [os.path.join(cls.workdir, "platform"), "--registry"], check=True,
            capture_output=True, text=True).stdout)
        cls.properties = {p["name"] for p in registry["properties"]}
        cls.services = set(registry["services"])
        cls.paths = sorted(p + "0" if p.endswith(".cfg") else p for p in registry["paths"])
        if not set(CONTROLS) <= cls.properties:
            raise AssertionError("the daemon starts services otherwise: %s" % cls.services)

    def ask(self, integration, kind, keys):
        """{key: what the integration's map answers to kind + key (None for '-')}."""
        keys = list(keys)
        out = subprocess.run([os.path.join(self.workdir, integration)] + [kind + k for k in keys],
                             check=True, capture_output=True, text=True).stdout.split()
        self.assertEqual(len(out), len(keys))
        return {key: None if answer == "-" else answer for key, answer in zip(keys, out)}

    def names(self, integration):
        return self.ask(integration, "name:", sorted(n for p in self.properties for n in expand(p)))

    def started(self, integration):
        """{the daemon's service name: the integration's}."""
        services = [n for s in self.services for n in expand(s)]
        return self.ask(integration, "value:ctl.start=", services)

    def test_every_name_has_one_of_its_own_in_each_integration(self):
        for integration in INTEGRATIONS:
            names = self.names(integration)
            for name, target in {**names, **self.ask(integration, "path:", self.paths)}.items():
                with self.subTest(integration=integration, name=name):
                    self.assertIsNotNone(target, "no name in this integration")
                    if integration == "platform" or name in CONTROLS:
                        self.assertEqual(target, name)
                    elif name.startswith("/"):  # the daemon's data moves to the vendor's
                        self.assertEqual(target, re.sub(r"^/data/.*/", "/data/vendor/radio/", name))
                    else:  # vendor namespaces, "persist." staying persistent and "ro." read-only
                        self.assertEqual(target.split("vendor.")[0],
                                         re.match(r"(init\.svc\.|persist\.|ro\.)?", name).group(0))
            self.assertEqual(len(set(names.values())), len(names), "two names share one")
            # The state the daemon reads before starting a service is that service's.
            started = self.started(integration)
            restarted = self.ask(integration, "value:ctl.restart=", started)
            for service, target in started.items():
                with self.subTest(integration=integration, service=service):
                    self.assertEqual((target, STATE + target),
                                     (restarted[service], names[STATE + service]))
                    self.assertEqual(integration == "vendor", target.startswith("vendor."))

    def test_every_name_is_labelled_with_a_type_the_policy_grants(self):
        for integration, (_, _, contexts_paths, policy) in INTEGRATIONS.items():
            entries = contexts(contexts_paths)
            text = "\n".join(read(p) for p in policy)
            can_set = set(re.findall(r"\bset_prop\(\s*modemprep\s*,\s*(\w+)\s*\)", text))
            can_get = can_set | set(re.findall(r"\bget_prop\(\s*modemprep\s*,\s*(\w+)\s*\)", text))
            for name, target in self.names(integration).items():
                if name not in CONTROLS and target:  # (no name: the test above)
                    with self.subTest(integration=integration, name=name):
                        self.assertIn(label(entries, target),
                                      can_get if name.startswith(STATE) else can_set)
            # init allows ctl.<action> of a service by ctl.<service> or by ctl.<action>$<service>.
            for service in self.started(integration).values():
                for control in CONTROLS:
                    with self.subTest(integration=integration, control=control, service=service):
                        self.assertTrue({label(entries, "ctl." + service),
                                         label(entries, control + "$" + service)} & can_set)

    def test_init_scripts_declare_what_the_daemon_starts_and_uses(self):
        for integration, (_, rc, _, _) in INTEGRATIONS.items():
            with self.subTest(integration=integration):
                text = read(rc)
                services = dict(re.findall(r"^service (\S+) .*\n((?:[ \t]+.*\n?)*)", text, re.M))
                started = self.started(integration)
                for name in sorted(started)[:2]:  # a dual-SIM phone's: only the daemon starts them
                    self.assertRegex(services.get(started[name], ""), r"(?m)^\s+disabled$", name)
                # A property trigger that names nothing the daemon or init sets never fires.
                known = set(self.names(integration).values()) | {STATE + s for s in services}
                for trigger in re.findall(r"property:([^=\s]+)=", text):
                    self.assertIn(trigger, known | {"ro.persistent_properties.ready"})
                data = self.ask(integration, "path:", (p for p in self.paths if "/data/" in p))
                self.assertLessEqual({os.path.dirname(p) for p in data.values()},
                                     set(re.findall(r"^\s*mkdir (\S+)", text, re.M)))
