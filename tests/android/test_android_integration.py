"""The Android integrations' names, from the daemon's property list through each name map (the
probe tests/android/map_probe.cc, compiled here), against their init scripts; and the parts of
scripts/android_check.py that decide what a device build would do (file order, property labels,
which failure is a platform neverallow). The policy checks themselves run in ci-android.sh.
"""

import importlib.util
import json
import os
import re
import shutil
import subprocess
import tempfile
import unittest

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
SPEC = importlib.util.spec_from_file_location(
    "android_check", os.path.join(ROOT, "scripts", "android_check.py"))
check = importlib.util.module_from_spec(SPEC)
SPEC.loader.exec_module(check)
RC = {i: os.path.join(ROOT, "android", i, "modemprep.rc") for i in check.INTEGRATIONS}


def probe(workdir, integration):
    compiler = os.environ.get("CXX") or shutil.which("clang++") or shutil.which("c++")
    binary = os.path.join(workdir, integration)
    subprocess.run([compiler, "-std=c++17", "-Wall", "-Wextra", "-Werror",
                    "-I" + os.path.join(ROOT, "src"),
                    os.path.join(ROOT, "src", "platform", "android", "map_%s.cc" % integration),
                    os.path.join(ROOT, "tests", "android", "map_probe.cc"), "-o", binary],
                   check=True)
    return json.loads(subprocess.run([binary], check=True, capture_output=True,
                                     text=True).stdout)


class NamesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        workdir = tempfile.mkdtemp(prefix="mapprobe")
        cls.addClassCleanup(shutil.rmtree, workdir)
        cls.names = {i: probe(workdir, i) for i in check.INTEGRATIONS}

    def test_each_integration_gives_every_name_one_of_its_own(self):
        for integration, names in self.names.items():
            targets = [p["target"] for p in names["properties"]]
            self.assertEqual(len(set(targets)), len(targets), "two names share one")
            for prop in names["properties"]:
                with self.subTest(integration=integration, name=prop["name"]):
                    if integration == "platform":
                        self.assertEqual(prop["target"], prop["name"])
                    else:  # vendor namespaces, "persist." staying persistent, "ro." read-only
                        kept = re.match(r"(init\.svc\.|persist\.|ro\.)?", prop["name"]).group(0)
                        self.assertTrue(prop["target"].startswith(kept + "vendor."),
                                        prop["target"])
            for control in names["controls"]:
                with self.subTest(integration=integration, control=control):
                    self.assertEqual(control["target"], control["property"])
                    self.assertEqual(control["target_service"],
                                     control["service"] if integration == "platform"
                                     else "vendor." + control["service"])
            for path in names["paths"]:  # only the daemon's data moves, into the vendor's
                with self.subTest(integration=integration, path=path["path"]):
                    self.assertEqual(path["target"], path["path"] if integration == "platform"
                                     else re.sub(r"^/data/.*/", "/data/vendor/modemprep/",
                                                 path["path"]))

    def test_init_scripts_declare_and_serve_what_the_daemon_uses(self):
        for integration, names in self.names.items():
            with self.subTest(integration=integration):
                text = check.read(RC[integration])
                services = dict(re.findall(r"^service (\S+) .*\n((?:[ \t]+.*\n?)*)", text, re.M))
                # Only the daemon starts the rild instances.
                for control in names["controls"]:
                    self.assertRegex(services.get(control["target_service"], ""),
                                     r"(?m)^\s+disabled$", control["target_service"])
                # A trigger on a name nobody sets never fires.
                known = {p["target"] for p in names["properties"]} | {
                    "init.svc." + s for s in services}
                for trigger in re.findall(r"property:([^=\s]+)=", text):
                    self.assertIn(trigger, known)
                self.assertLessEqual({os.path.dirname(p["target"]) for p in names["paths"]
                                      if p["target"].startswith("/data/")},
                                     set(re.findall(r"^\s*mkdir (\S+)", text, re.M)))


class CheckTest(unittest.TestCase):
    def test_property_label_is_the_exact_entry_else_the_longest_prefix(self):
        entries = [("ctl.", "ctl_default", False), ("ctl.start$", "ctl_start", False),
                   ("persist.radio", "radio", False),
                   ("persist.radio.multisim.config", "radio_control", True)]
        for name, expected in [("ctl.start$vendor.rild0", "ctl_start"),
                               ("ctl.vendor.rild0", "ctl_default"),
                               ("persist.radio.multisim.config", "radio_control"),
                               ("persist.radio.multisim.config2", "radio"),
                               ("sys.vx", None)]:
            with self.subTest(name=name):
                self.assertEqual(check.label(entries, name), expected)

    def test_a_failure_counts_only_when_a_platform_neverallow_names_it(self):
        release = check.Release.__new__(check.Release)
        release.sepolicy = "/aosp/sepolicy/android15"
        for log, expected in [
                ("neverallow on line 249 of /aosp/sepolicy/android15/private/property.te (or "
                 "line 9 of policy.conf) violated by allow modemprep system_prop", "private/"
                 "property.te:249"),
                ("neverallow on line 3 of /repo/android/vendor/sepolicy/x.te violated", None),
                ("ERROR 'unknown type radio_control_prop' at token ';'", None)]:
            with self.subTest(log=log):
                self.assertEqual(check.neverallow_of(release, log), expected)

    def test_policy_files_follow_the_release_build_order(self):
        top = tempfile.mkdtemp(prefix="sepolicy")
        self.addCleanup(shutil.rmtree, top)
        tree = {"public": ["attributes", "b.te", "a.te", "te_macros"],
                "private": ["security_classes", "c.te", "users"], "vendor": ["v.te"],
                "ours": ["m.te"]}
        for folder, files in tree.items():
            os.makedirs(os.path.join(top, folder))
            for name in files:
                open(os.path.join(top, folder, name), "w").close()
        order = '"security_classes",\n"te_macros",\n"attributes|*.te",\n"users",'
        builds = {  # Android.mk's (12L and before): one type after the other over all folders
            "make": ("LOCAL_MODULE := sepolicy_neverallows\nsepolicy_build_files := "
                     "security_classes \\\n  te_macros attributes \\\n  *.te users\n", "",
                     ["private/security_classes", "public/te_macros", "public/attributes",
                      "public/a.te", "public/b.te", "private/c.te", "vendor/v.te", "ours/m.te",
                      "private/users"]),
            # policy.go's: a stable sort by type, attributes and *.te alike, vendor/ after ours
            "soong": ("", "var policyConfOrder = []string{\n%s\n}\n" % order,
                      ["private/security_classes", "public/te_macros", "public/attributes",
                       "public/a.te", "public/b.te", "private/c.te", "ours/m.te", "vendor/v.te",
                       "private/users"])}
        for style, (makefile, policy_go, expected) in builds.items():
            with self.subTest(style=style):
                with open(os.path.join(top, "Android.mk"), "w") as f:
                    f.write(makefile)
                with open(os.path.join(top, "policy.go"), "w") as f:
                    f.write(policy_go)
                release = check.Release("r", top, os.path.join(top, "policy.go"), "", "", "", "", "")
                files = release.policy_files(release.policy_dirs(system_ext=[
                    os.path.join(top, "ours")]))
                self.assertEqual([os.path.relpath(f, top) for f in files], expected)


if __name__ == "__main__":
    unittest.main()
