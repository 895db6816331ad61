#!/usr/bin/python3
"""Checks the Android integration (android/) against a platform's own sources.

For every release found under AOSP, the platform's policy is compiled as a device build compiles it
(the file order and m4 definitions of that release's build files, then checkpolicy), alone, with
the platform integration as system_ext policy and with the vendor integration as the device's
vendor policy. On each result: the integration's file contexts (setfiles -c), its property
contexts (types, and the release's vendor prefix test), every property and control request the
daemon makes through that integration's name map (setools), the property triggers of its init
script against the release's init parser, and rules a device must not have, each of which must be
refused by a neverallow of the platform's own policy.

Run by scripts/ci-android.sh, with Debian's python3 (setools is a Debian python3 library).
"""

import concurrent.futures
import fnmatch
import glob
import json
import os
import re
import subprocess
import sys
import time

from tools.mpharness.cli import ArgumentParser  # one-line usage errors, as every tool

# A user build of a full-Treble device with the property rules on, launched with the newest
# release (Soong's value for a platform-wide policy). Release flags (target_flag_*) stay off.
DEFINES = {
    "mls_num_sens": "1", "mls_num_cats": "1024", "target_arch": "arm64",
    "target_build_variant": "user", "target_full_treble": "true",
    "target_compatible_property": "true", "target_treble_sysprop_neverallow": "true",
    "target_enforce_sysprop_owner": "true", "target_with_asan": "false",
    "target_with_dexpreopt": "true", "target_with_native_coverage": "false",
    "target_exclude_build_test": "false",
    "target_requires_insecure_execmem_for_swiftshader": "false",
    "target_enforce_debugfs_restriction": "true", "target_recovery": "false",
    "target_board_api_level": "1000000",
}
# Property prefixes the build lets a vendor property_contexts use (build/soong's
# selinux_contexts.go, read from there when the tree has it).
VENDOR_PROPERTY_PREFIXES = [
    "ctl.odm.", "ctl.vendor.", "ctl.start$odm.", "ctl.start$vendor.", "ctl.stop$odm.",
    "ctl.stop$vendor.", "init.svc.odm.", "init.svc.vendor.", "ro.boot.", "ro.hardware.",
    "ro.odm.", "ro.vendor.", "odm.", "persist.odm.", "persist.vendor.", "vendor."]
DOMAIN = "modemprep"
INTEGRATIONS = ("platform", "vendor")
# Rules a device must not have: (integration, rule, types it names, what it stands for).
PLANTED = [
    ("vendor", "set_prop(modemprep, system_prop)", ["system_prop"],
     "a vendor domain setting a platform system property"),
    ("vendor", "set_prop(modemprep, radio_prop)", ["radio_prop"],
     "a vendor domain other than the telephony HAL setting radio_prop"),
    ("vendor", "get_prop(modemprep, init_service_status_private_prop)",
     ["init_service_status_private_prop"], "a vendor domain reading the platform's service states"),
    ("vendor", "set_prop(modemprep, radio_control_prop)", ["radio_control_prop"],
     "a vendor domain setting radio_control_prop"),
    ("platform", "allow rild modemprep_data_file:file r_file_perms;", ["rild"],
     "rild (a vendor domain) reading the platform daemon's data"),
    ("platform", "allow modemprep vendor_data_file:file create_file_perms;", ["vendor_data_file"],
     "the system_ext daemon writing vendor data"),
]
PROPERTY_READ = {"open", "read", "map", "getattr"}

failures = []


def say(message):
    print("ci-android: " + message, flush=True)


def fail(message):
    failures.append(message)
    print("ci-android: FAIL: " + message, file=sys.stderr, flush=True)


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


class Release:
    """One platform release: where its policy, build rules and init sources are."""

    def __init__(self, name, sepolicy, policy_go, prefix_test, contexts_go, system_core,
                 revision):
        self.name, self.sepolicy, self.system_core, self.revision = (
            name, sepolicy, system_core, revision)
        self.policy_go = policy_go if os.path.isfile(policy_go) else None
        self.prefix_test = prefix_test if os.path.isfile(prefix_test) else None
        self.contexts_go = contexts_go if os.path.isfile(contexts_go) else None
        makefile = read(self.dir("Android.mk"))
        # Until Android 12L the neverallow check is Android.mk's: its file list, one type after
        # the other over all directories. Later Soong's: policy.go sorts the files by type.
        self.make = re.search(r"^LOCAL_MODULE := sepolicy_neverallows$", makefile, re.M)
        if self.make:
            listed = re.search(r"^sepolicy_build_files :=((?:.*\\\n)*.*)$", makefile, re.M)
            self.order = [[p] for p in listed.group(1).replace("\\\n", " ").split()]
        else:
            order = re.search(r"policyConfOrder = \[\]string\{(.*?)\}", read(self.policy_go), re.S)
            self.order = [p.split("|") for p in re.findall(r'"([^"]+)"', order.group(1))]
        self.defines = (set(re.findall(r'"-D (\w+)="', read(self.policy_go)))
                        if self.policy_go else set())

    def dir(self, *parts):
        return os.path.join(self.sepolicy, *parts)

    def policy_dirs(self, system_ext=(), vendor=()):
        plat = [self.dir("public"), self.dir("private")]
        if not self.make:  # the flag macros first, vendor/ after system_ext
            flagging = [self.dir("flagging")] if os.path.isfile(self.dir("flagging", "te_macros")) \
                else []
            return flagging + plat + list(system_ext) + [self.dir("vendor")] + list(vendor)
        return plat + [self.dir("vendor")] + list(system_ext) + list(vendor)

    def rank(self, path):
        name = os.path.basename(path)
        return next(i for i, r in enumerate(self.order) if any(fnmatch.fnmatch(name, p) for p in r))

    def policy_files(self, dirs):
        found = lambda d, p: sorted(glob.glob(os.path.join(d, p)))
        if self.make:
            return [f for r in self.order for d in dirs for p in r for f in found(d, p)]
        # Each directory's files in pattern order, then a stable sort by the policy.conf order.
        return sorted((f for d in dirs for r in self.order for p in r for f in found(d, p)),
                      key=self.rank)

    def property_contexts(self):
        return [p for p in (self.dir("public", "property_contexts"),
                            self.dir("private", "property_contexts")) if os.path.isfile(p)]


def releases(aosp, tree):
    if tree:
        sepolicy = os.path.join(aosp, "system", "sepolicy")
        soong = os.path.join(sepolicy, "build", "soong")
        return [Release(os.path.basename(os.path.abspath(aosp)), sepolicy,
                        os.path.join(soong, "policy.go"),
                        os.path.join(sepolicy, "tests", "check_prop_prefix.py"),
                        os.path.join(soong, "selinux_contexts.go"),
                        os.path.join(aosp, "system", "core"), "the tree at " + aosp)]
    found = []
    for sepolicy in sorted(glob.glob(os.path.join(aosp, "sepolicy", "android*"))):
        name = os.path.basename(sepolicy)
        revision = []
        for path in sorted(glob.glob(os.path.join(aosp, "*", "REVISIONS"))):
            for line in read(path).splitlines():
                if line.split()[:1] == [name]:
                    revision.append("%s %s" % (os.path.basename(os.path.dirname(path)),
                                               " ".join(line.split()[1:])))
        found.append(Release(name, sepolicy, os.path.join(sepolicy, "policy.go"),
                             os.path.join(sepolicy, "check_prop_prefix.py"),
                             os.path.join(sepolicy, "selinux_contexts.go"),
                             os.path.join(aosp, "system-core", name), "; ".join(revision)))
    return found


def expand(release, dirs, output):
    """m4 as the build runs it, into OUTPUT.conf: None, or m4's messages."""
    with open(output + ".conf", "w", encoding="utf-8") as conf:
        m4 = subprocess.run(["m4", "--fatal-warnings"] +
                            ["-D%s=%s" % d for d in sorted(DEFINES.items())] +
                            ["-s"] + release.policy_files(dirs),
                            stdout=conf, stderr=subprocess.PIPE, text=True)
    return None if m4.returncode == 0 else "m4: " + m4.stderr


def compile_policy(release, dirs, output):
    """m4 and checkpolicy as the build runs them: None, or the compiler's messages."""
    error = expand(release, dirs, output)
    if error:
        return error
    checkpolicy = subprocess.run(["checkpolicy", "-M", "-c", "30", "-o", output, output + ".conf"],
                                 capture_output=True, text=True)
    return None if checkpolicy.returncode == 0 else checkpolicy.stdout + checkpolicy.stderr


def check_defines(release, files):
    used = set(re.findall(r"\b(target_(?!flag_)\w+|mls_num_\w+)", "".join(read(f) for f in files)))
    missing = sorted((used | release.defines) - set(DEFINES))
    if missing:
        fail("%s: no m4 definition for %s" % (release.name, ", ".join(missing)))


# ---- Property contexts --------------------------------------------------------------------------
def contexts(paths):
    """[(name or prefix, type, exact)] of property_contexts files."""
    entries = []
    for path in paths:
        for line in read(path).splitlines():
            fields = line.split()
            if fields and not fields[0].startswith("#"):
                entries.append((fields[0], fields[1].split(":")[2], fields[2:3] == ["exact"]))
    return entries


def label(entries, name):
    """The type init gives name: an exact entry, else the longest matching prefix."""
    exact = [t for n, t, e in entries if e and n == name]
    prefixes = sorted((len(n), t) for n, t, e in entries if not e and name.startswith(n))
    return (exact or [t for _, t in prefixes[-1:]] or [None])[0]


def vendor_prefixes(release):
    if release.contexts_go:
        listed = re.findall(r'"((?:ctl|init|ro|odm|persist|vendor)[\w.$]*\.)"',
                            read(release.contexts_go))
        if listed:
            return sorted(set(listed))
    return VENDOR_PROPERTY_PREFIXES


# ---- Queries on a compiled policy ---------------------------------------------------------------
class Policy:
    def __init__(self, path):
        import setools  # Debian's python3-setools
        self.setools = setools
        self.policy = setools.SELinuxPolicy(path)
        self.types = {str(t) for t in self.policy.types()}
        self.cache = {}

    def granted(self, source, tclass):
        """{target type: permissions} of the allow rules for source on tclass, attributes
        expanded (one query per source and class: each query walks the whole policy)."""
        if (source, tclass) not in self.cache:
            table = {}
            for rule in self.setools.TERuleQuery(self.policy, ruletype=["allow"], source=source,
                                                 tclass=[tclass]).results():
                for target in rule.target.expand():
                    table.setdefault(str(target), set()).update(str(p) for p in rule.perms)
            self.cache[(source, tclass)] = table
        return self.cache[(source, tclass)]

    def allows(self, source, target, tclass, perms):
        return set(perms) <= self.granted(source, tclass).get(target, set())

    def can_read(self, source, prop_type):
        return prop_type in self.types and self.allows(source, prop_type, "file", PROPERTY_READ)

    def can_set(self, source, prop_type):
        return (prop_type in self.types and
                self.allows(source, prop_type, "property_service", {"set"}) and
                self.allows(source, "property_socket", "sock_file", {"write"}) and
                self.allows(source, "init", "unix_stream_socket", {"connectto"}))


def check_names(release, integration, policy, entries, names):
    """Every property the daemon reads or writes and every control request it makes (init checks
    ctl.<service>, then ctl.<action>$<service>: property_service.cpp, CheckControlPropertyPerms)."""
    bad = []
    for prop in names["properties"]:
        name = prop["target"]
        if name is None:
            bad.append("use %s: the map has no name for it" % prop["name"])
            continue
        if prop["read"] and not policy.can_read(DOMAIN, label(entries, name)):
            bad.append("read %s (%s)" % (name, label(entries, name)))
        if prop["write"] and not policy.can_set(DOMAIN, label(entries, name)):
            bad.append("set %s (%s)" % (name, label(entries, name)))
    for control in names["controls"]:
        service = control["target_service"]
        if None in (service, control["target"]):
            bad.append("%s %s: the map has no name for it" % (control["property"],
                                                              control["service"]))
            continue
        legacy, full = "ctl." + service, "%s$%s" % (control["target"], service)
        if not any(policy.can_set(DOMAIN, label(entries, n)) for n in (legacy, full)):
            bad.append("%s %s (neither %s, %s, nor %s, %s)" % (
                control["target"], service, legacy, label(entries, legacy), full,
                label(entries, full)))
    for problem in bad:
        fail("%s, %s integration: the daemon may not %s" % (release.name, integration, problem))
    if not bad:
        say("%s, %s integration: the daemon may read and set its %d properties and make its %d "
            "control requests" % (release.name, integration, len(names["properties"]),
                                  len(names["controls"])))


def init_prefixes(release):
    source = os.path.join(release.system_core, "init", "action_parser.cpp")
    if not os.path.isfile(source):
        return None
    listed = re.search(r"kPartnerPrefixes\[\]\s*=\s*\{(.*?)\}", read(source), re.S)
    return re.findall(r'"([^"]+)"', listed.group(1))


def check_vendor_triggers(release, policy, entries, rc):
    """A property trigger in a /vendor script survives only with a partner prefix or a name
    vendor_init may read (init/action_parser.cpp, IsActionableProperty)."""
    prefixes = init_prefixes(release)
    if prefixes is None:
        say("%s: skipped the vendor init script's triggers: no init/action_parser.cpp in %s" %
            (release.name, release.system_core))
        return
    text = read(rc)
    triggers = sorted(set(re.findall(r"property:([^=\s]+)=", text)))
    dropped = [t for t in triggers if not t.startswith(tuple(prefixes)) and
               not policy.can_read("vendor_init", label(entries, t))]
    for name in dropped:
        fail("%s: init drops the trigger property:%s of %s (unexported property trigger: not a "
             "partner prefix and vendor_init may not read %s)" % (release.name, name, rc,
                                                                   label(entries, name)))
    # ${name} in a command is expanded in the subcontext, with vendor_init's rights.
    unreadable = [n for n in sorted(set(re.findall(r"\$\{([^}:]+)", text)))
                  if not policy.can_read("vendor_init", label(entries, n))]
    for name in unreadable:
        fail("%s: vendor_init may not read ${%s} in %s (%s)" % (release.name, name, rc,
                                                                 label(entries, name)))
    if not dropped and not unreadable:
        say("%s: init keeps all %d property triggers of %s (partner prefixes from "
            "action_parser.cpp) and vendor_init reads what its commands expand" %
            (release.name, len(triggers), os.path.basename(os.path.dirname(rc)) + "/modemprep.rc"))


def check_contexts(release, integration, binary, policy, files):
    for path in files["file_contexts"]:
        run = subprocess.run(["setfiles", "-c", binary, path], capture_output=True, text=True)
        if run.returncode != 0:
            fail("%s: setfiles -c on %s: %s" % (release.name, path, run.stderr.strip()))
    unknown = sorted({t for _, t, _ in contexts(files["property_contexts"])} - policy.types)
    if unknown:
        fail("%s: %s property_contexts names types the policy lacks: %s" %
             (release.name, integration, ", ".join(unknown)))
    say("%s: %s integration: setfiles -c checked its file_contexts; its property_contexts name "
        "%s" % (release.name, integration, "types the policy lacks" if unknown
                else "only types the policy has"))
    if integration == "vendor":
        if not release.prefix_test:
            say("%s: skipped the vendor property prefix test: the release has no "
                "check_prop_prefix.py" % release.name)
            return
        for path in files["property_contexts"]:
            run = subprocess.run([sys.executable, release.prefix_test, "--strict",
                                  "--property-contexts", path, "--allowed-property-prefix"] +
                                 vendor_prefixes(release), capture_output=True, text=True)
            if run.returncode != 0:
                fail("%s: check_prop_prefix.py on %s:\n%s" % (release.name, path, run.stdout))
            else:
                say("%s: check_prop_prefix.py --strict accepts %s" % (release.name, path))


# ---- The run ------------------------------------------------------------------------------------
def integration_files(repo):
    platform = os.path.join(repo, "android", "platform", "sepolicy")
    vendor = os.path.join(repo, "android", "vendor")
    return {
        "platform": {"system_ext": [os.path.join(platform, d) for d in ("public", "private")],
                     "vendor": [],
                     "file_contexts": [os.path.join(platform, "private", "file_contexts")],
                     "property_contexts": [os.path.join(platform, "private",
                                                        "property_contexts")],
                     "rc": os.path.join(repo, "android", "platform", "modemprep.rc")},
        "vendor": {"system_ext": [], "vendor": [os.path.join(vendor, "sepolicy")],
                   "file_contexts": [os.path.join(vendor, "sepolicy", "file_contexts")],
                   "property_contexts": [os.path.join(vendor, "sepolicy", "property_contexts")],
                   "rc": os.path.join(vendor, "modemprep.rc")},
    }


def claims(table_path):
    """{release: {integration: whether docs/android.md says it works}} from its release table."""
    found = {}
    for line in (read(table_path) if os.path.isfile(table_path) else "").splitlines():
        cells = [c.strip().strip("`*") for c in line.strip().strip("|").split("|")]
        if len(cells) >= 3 and re.fullmatch(r"android\w+", cells[0]):
            found[cells[0]] = {i: c.lower().startswith("yes")
                               for i, c in zip(INTEGRATIONS, cells[1:3])}
    return found


def first_error(log):
    lines = [l for l in log.splitlines() if re.search(r"error|neverallow|unknown", l, re.I)]
    return (lines or log.splitlines() or ["(no message)"])[0].strip()


def neverallow_of(release, log):
    """'FILE:LINE' of the platform neverallow a failed build names, or None."""
    for m in re.finditer(r"neverallow on line (\d+) of (\S+)", log):
        if os.path.abspath(m.group(2)).startswith(os.path.abspath(release.sepolicy) + os.sep):
            return "%s:%s" % (os.path.relpath(m.group(2), release.sepolicy), m.group(1))
    return None


class Run:
    def __init__(self, args, repo):
        self.args, self.repo = args, repo
        self.files = integration_files(repo)
        self.claimed = claims(os.path.join(repo, "docs", "android.md"))
        self.names = ({i: json.loads(read(p)) for i, p in zip(INTEGRATIONS, args.names)}
                      if args.names else None)
        self.releases = releases(args.aosp, args.tree)
        self.jobs, self.results, self.types, self.planted_on = [], {}, {}, []

    def out(self, release, *parts):
        return os.path.join(self.args.build, release.name, *parts)

    def supported(self, release, integration):
        return self.claimed.get(release.name, {}).get(integration, True)

    def plan(self):
        """The builds: per release the platform alone and with each integration."""
        for release in self.releases:
            os.makedirs(self.out(release), exist_ok=True)
            base = release.policy_dirs()
            check_defines(release, release.policy_files(base))
            error = expand(release, base, self.out(release, "base"))
            self.types[release.name] = set() if error else set(re.findall(
                r"^\s*(?:type|attribute)\s+(\w+)", read(self.out(release, "base.conf")), re.M))
            self.jobs.append((release, "base", base))
            for integration in INTEGRATIONS:
                files = self.files[integration]
                self.jobs.append((release, integration,
                                  release.policy_dirs(files["system_ext"], files["vendor"])))

    def plan_planted(self, releases):
        self.planted_on = releases
        for release in releases:
            for i, (integration, rule, needed, _) in enumerate(PLANTED):
                if not self.supported(release, integration) or \
                        not set(needed) <= self.types[release.name]:
                    continue  # said in the report
                planted = self.out(release, "planted%d" % i)
                os.makedirs(planted, exist_ok=True)
                with open(os.path.join(planted, "planted.te"), "w", encoding="utf-8") as f:
                    f.write(rule + "\n")
                files = self.files[integration]
                extra = [planted]
                dirs = (release.policy_dirs(files["system_ext"] + extra, files["vendor"])
                        if integration == "platform" else
                        release.policy_dirs(files["system_ext"], files["vendor"] + extra))
                self.jobs.append((release, "planted%d" % i, dirs))

    def build(self, jobs):
        with concurrent.futures.ThreadPoolExecutor(max_workers=max(self.args.jobs, 1)) as pool:
            pending = {(r.name, what): pool.submit(compile_policy, r, dirs,
                                                   self.out(r, what, "policy")
                                                   if what.startswith("planted")
                                                   else self.out(r, what))
                       for r, what, dirs in jobs}
            self.results.update({k: f.result() for k, f in pending.items()})

    def run(self):
        if not self.releases:
            fail("no platform policy under %s" % self.args.aosp)
            return
        self.plan()
        # The newest release's platform policy, the largest, is the one timed.
        timed = [j for j in self.jobs if j[0] is self.releases[-1] and j[1] == "base"]
        start = time.monotonic()
        self.build(timed)
        seconds = time.monotonic() - start
        count = len(self.jobs) + len(PLANTED) * len(self.releases)
        estimate = seconds * count / max(self.args.jobs, 1)
        if estimate > self.args.budget and len(self.releases) > 2:
            self.plan_planted([self.releases[0], self.releases[-1]])
            say("one policy build took %.1f s; %d builds would take about %.0f s, over %.0f s: "
                "the planted rules run on %s and %s only" %
                (seconds, count, estimate, self.args.budget, self.releases[0].name,
                 self.releases[-1].name))
        else:
            self.plan_planted(self.releases)
            say("one policy build took %.1f s; about %.0f s for the %d builds on %d jobs" %
                (seconds, estimate, len(self.jobs), self.args.jobs))
        self.build([j for j in self.jobs if j not in timed])
        for release in self.releases:
            self.report(release)

    def report(self, release):
        say("%s (%s)" % (release.name, release.revision))
        error = self.results[(release.name, "base")]
        if error:
            fail("%s: the platform's own policy does not compile here, so this build is not the "
                 "platform's: %s" % (release.name, first_error(error)))
            return
        say("%s: the platform policy alone compiles" % release.name)
        for integration in INTEGRATIONS:
            self.report_integration(release, integration)
        for i, (integration, rule, needed, meaning) in enumerate(PLANTED):
            self.report_planted(release, i, integration, rule, needed, meaning)

    def report_integration(self, release, integration):
        error = self.results[(release.name, integration)]
        if not self.supported(release, integration):
            if error:
                say("%s: %s integration not supported (docs/android.md), and indeed: %s" %
                    (release.name, integration, first_error(error)))
            else:
                fail("%s: docs/android.md says the %s integration does not work here, but its "
                     "policy compiles: check it and correct the table" % (release.name,
                                                                          integration))
            return
        if error:
            fail("%s: the %s integration does not compile:\n%s" % (release.name, integration,
                                                                   error.strip()))
            return
        say("%s: the %s integration compiles" % (release.name, integration))
        files = self.files[integration]
        binary = self.out(release, integration)
        policy = Policy(binary)
        entries = contexts(release.property_contexts() + files["property_contexts"])
        check_contexts(release, integration, binary, policy, files)
        if self.names:
            check_names(release, integration, policy, entries, self.names[integration])
        else:
            say("%s: skipped the daemon's names: no name list (--names)" % release.name)
        if integration == "vendor":
            check_vendor_triggers(release, policy, entries, files["rc"])

    def report_planted(self, release, i, integration, rule, needed, meaning):
        what = "'%s' (%s, %s integration)" % (rule, meaning, integration)
        if release not in self.planted_on:
            say("%s: skipped %s: planted rules run on %s only" %
                (release.name, what, ", ".join(r.name for r in self.planted_on)))
        elif not self.supported(release, integration):
            say("%s: skipped %s: the %s integration is not supported here" %
                (release.name, what, integration))
        elif not set(needed) <= self.types[release.name]:
            say("%s: skipped %s: no %s in this release" %
                (release.name, what, ", ".join(sorted(set(needed) - self.types[release.name]))))
        else:
            error = self.results[(release.name, "planted%d" % i)]
            where = neverallow_of(release, error or "")
            if error is None:
                fail("%s: the policy accepts %s" % (release.name, what))
            elif where is None:
                fail("%s: %s failed, but not by a platform neverallow: %s" %
                     (release.name, what, first_error(error)))
            else:
                say("%s: %s refused by the neverallow at %s" % (release.name, what, where))


def main():
    parser = ArgumentParser(prog="python3 -m scripts.android_check", description=__doc__.split("\n\n")[0])
    parser.add_argument("--aosp", required=True, help="the platform sources")
    parser.add_argument("--tree", action="store_true",
                        help="AOSP is a platform tree (system/sepolicy...), not the flat copy")
    parser.add_argument("--build", required=True, help="directory for the work files")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--names", nargs=2, metavar=("PLATFORM_JSON", "VENDOR_JSON"),
                        help="what each integration's name map makes of the daemon's names")
    parser.add_argument("--budget", type=float, default=600,
                        help="seconds above which the planted rules run on two releases only")
    args = parser.parse_args()
    Run(args, os.path.dirname(os.path.dirname(os.path.abspath(__file__)))).run()
    if failures:
        say("%d failure(s)" % len(failures))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
