#!/usr/bin/python3
"""Checks the Android integration (android/) against a platform's own sources.

For every release found under AOSP, the platform's policy is compiled as a device build compiles it
(the file order and m4 definitions of that release's build files, then checkpolicy), alone, with
the platform integration as system_ext policy and with the vendor integration as the device's
vendor policy. Each integration then goes through the checks a device build runs on it, with the
platform's own tools where the sources hold them (sepolicy_tests.py, property_info_checker,
check_prop_prefix.py, the vendor policy compiled from the public policy alone, the user build's
permissive refusal), and through this script's own: the daemon's rights, at least what it uses
and at most that, and its init script as init would parse it. Every mistake of PLANTED is then
made alone in a copy of the integration and must be refused by the check that names it.

Run by scripts/ci-android.sh, with Debian's python3 (setools is a Debian python3 library).
"""

import concurrent.futures
import fnmatch
import glob
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import threading
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
# ... and the type prefixes, for a device shipping with R or later (the same file).
VENDOR_CONTEXT_PREFIXES = ["vendor_", "odm_"]
# The events init queues itself (init.cpp, not among the sources); every other event trigger must
# be one a "trigger" command of init.rc or of the script itself raises.
INIT_EVENTS = {"early-init", "init", "late-init", "charger"}
# What the user build refuses (policy.go from Android 13, Android.mk before).
PERMISSIVE_ERROR = "ERROR: permissive domains not allowed in user builds"
DOMAIN = "modemprep"
INTEGRATIONS = ("platform", "vendor")
TE = {"platform": "sepolicy/private/modemprep.te", "vendor": "sepolicy/modemprep.te"}
PC = {"platform": "sepolicy/private/property_contexts", "vendor": "sepolicy/property_contexts"}
FC = {"platform": "sepolicy/private/file_contexts", "vendor": "sepolicy/file_contexts"}


class Plant:
    """A mistake made alone in a copy of one integration: EDITS are (file, old, new) with old None
    to append new; the copy must fail CHECK with a message matching MESSAGE."""

    def __init__(self, integration, what, edits, check, message, types=()):
        self.integration, self.what, self.edits = integration, what, edits
        self.check, self.message, self.types = check, message, set(types)


def rule(integration, text, what, check="checkpolicy", message=r"neverallow", types=()):
    return Plant(integration, what, [(TE[integration], None, text + "\n")], check, message,
                 types)


PLANTED = [
    # The platform's neverallow rules.
    rule("vendor", "set_prop(modemprep, system_prop)", "a vendor domain setting system_prop"),
    rule("vendor", "set_prop(modemprep, radio_prop)",
         "a vendor domain other than the telephony HAL setting radio_prop"),
    rule("vendor", "get_prop(modemprep, init_service_status_private_prop)",
         "a vendor domain reading the platform's service states",
         types=["init_service_status_private_prop"]),
    rule("vendor", "set_prop(modemprep, radio_control_prop)",
         "a vendor domain setting radio_control_prop", types=["radio_control_prop"]),
    rule("platform", "allow rild modemprep_data_file:file r_file_perms;",
         "rild (a vendor domain) reading the platform daemon's data"),
    rule("platform", "allow modemprep vendor_data_file:file create_file_perms;",
         "the system_ext daemon writing vendor data"),
    # The device build's other checks.
    *[rule(i, "permissive modemprep;", "a permissive %s domain" % i, "permissive",
           re.escape(PERMISSIVE_ERROR) + r"\nList of invalid domains: modemprep$")
      for i in INTEGRATIONS],
    Plant("vendor", "a vendor file_contexts entry under /data/misc",
          [(FC["vendor"], None,
            "/data/misc/modemprep(/.*)?      u:object_r:vendor_modemprep_data_file:s0\n")],
          "sepolicy_tests.py", r'must be associated with the "core_data_file_type" attribute'),
    Plant("vendor", "a vendor property type without the vendor_ prefix",
          [(TE["vendor"], None, "vendor_internal_prop(modemprep_extra_prop)\n"),
           (PC["vendor"], None, "vendor.vx.extra  u:object_r:modemprep_extra_prop:s0 exact\n")],
          "check_prop_prefix.py", r"modemprep_extra_prop"),
    rule("vendor", "allow modemprep system_server_startup:fd use;",
         "a vendor rule naming a private platform type", "vendor policy", r"unknown type"),
    # property_info_checker, on both integrations' property_contexts.
    *[Plant(i, "a misspelt type in property_contexts",
            [(PC[i], None, "%s.typo  u:object_r:%s:s0 exact\n" % (prefix, typo))],
            "property_info_checker", r"type %s is not defined" % typo)
      for i, prefix, typo in (("platform", "sys.vx", "modemprep_porp"),
                              ("vendor", "vendor.vx", "vendor_modemprep_porp"))],
    *[Plant(i, "a misspelt match word in property_contexts",
            [(PC[i], None, "%s.typo  u:object_r:%s:s0 exakt\n" % (prefix, prop))],
            "property_info_checker", r"Match operation 'exakt' is not valid")
      for i, prefix, prop in (("platform", "sys.vx", "modemprep_prop"),
                              ("vendor", "vendor.vx", "vendor_modemprep_prop"))],
    Plant("platform", "a property_contexts entry the platform's already makes",
          [(PC["platform"], None,
            "persist.radio.multisim.config u:object_r:radio_control_prop:s0 exact string\n")],
          "property_info_checker", r"Duplicate exact match detected for "
          r"'persist.radio.multisim.config'", types=["radio_control_prop"]),
    Plant("vendor", "a property_contexts entry made twice",
          [(PC["vendor"], None, "vendor.vx.   u:object_r:vendor_modemprep_prop:s0\n")],
          "property_info_checker", r"Duplicate prefix match detected for 'vendor.vx.'"),
    # init, as our own check reads it.
    Plant("vendor", "an unknown user in a vendor service",
          [("modemprep.rc", "    user radio\n", "    user radoi\n")], "init",
          r"user radoi: radoi is no fixed id"),
    Plant("vendor", "a misspelt start trigger",
          [("modemprep.rc", "on load_persist_props_action\n",
            "on load_persist_props_actoin\n")], "init",
          r"on load_persist_props_actoin: no trigger raises it"),
    # Upper bounds.
    rule("vendor", "set_prop(modemprep, ctl_start_prop)",
         "the daemon allowed to start any service", "bounds", r"may set ctl_start_prop"),
    rule("vendor", "typeattribute modemprep mlstrustedsubject;",
         "the daemon an mlstrustedsubject", "bounds", r"is mlstrustedsubject"),
    rule("vendor", "type modemprep_helper, domain;\n"
         "type modemprep_helper_exec, exec_type, vendor_file_type, file_type;\n"
         "domain_auto_trans(modemprep, modemprep_helper_exec, modemprep_helper)",
         "the daemon entering a helper's domain", "bounds",
         r"may transition to modemprep_helper"),
    Plant("vendor", "a control entry that is a prefix",
          [(PC["vendor"], None, "ctl.vendor.ril  u:object_r:vendor_modemprep_ctl_rild_prop:s0\n")],
          "bounds", r"ctl\.vendor\.ril is not one exact entry of a declared rild service"),
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


def digest(paths, *extra):
    """Of the files' names and contents, not their folders: a planted copy whose policy files are
    the shipped ones shares their build."""
    h = hashlib.sha256()
    for path in paths:
        h.update(os.path.basename(path).encode() + b"\0")
        with open(path, "rb") as f:
            h.update(f.read())
    for part in extra:
        h.update(repr(part).encode())
    return h.hexdigest()[:16]


def run(cmd, **kwargs):
    """(status, stdout and stderr) of a tool."""
    done = subprocess.run(cmd, capture_output=True, text=True, **kwargs)
    return done.returncode, done.stdout + done.stderr


class Release:
    """One platform release: where its policy, build rules, tests and init sources are."""

    def __init__(self, name, sepolicy, policy_go, prefix_test, contexts_go, system_core,
                 revision, tests):
        self.name, self.sepolicy, self.system_core, self.revision = (
            name, sepolicy, system_core, revision)
        self.policy_go = policy_go if os.path.isfile(policy_go) else None
        self.prefix_test = prefix_test if os.path.isfile(prefix_test) else None
        self.contexts_go = contexts_go if os.path.isfile(contexts_go) else None
        self.tests = tests if os.path.isfile(os.path.join(tests, "sepolicy_tests.py")) else None
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

    def flagging(self):
        return [self.dir("flagging")] if os.path.isfile(self.dir("flagging", "te_macros")) else []

    def policy_dirs(self, system_ext=(), vendor=()):
        plat = [self.dir("public"), self.dir("private")]
        if not self.make:  # the flag macros first, vendor/ after system_ext
            return self.flagging() + plat + list(system_ext) + [self.dir("vendor")] + list(vendor)
        return plat + [self.dir("vendor")] + list(system_ext) + list(vendor)

    def vendor_dirs(self, vendor):
        """vendor_sepolicy.conf: the public policy, reqd_mask, the platform's vendor/ and the
        device's vendor directories, nothing private."""
        return (self.flagging() + [self.dir("public"), self.dir("reqd_mask"), self.dir("vendor")] +
                list(vendor))

    def rank(self, path):
        name = os.path.basename(path)
        return next(i for i, r in enumerate(self.order) if any(fnmatch.fnmatch(name, p) for p in r))

    def policy_files(self, dirs):
        found = lambda d, p: [followed(f) for f in sorted(glob.glob(os.path.join(d, p)))]
        if self.make:
            return [f for r in self.order for d in dirs for p in r for f in found(d, p)]
        # Each directory's files in pattern order, then a stable sort by the policy.conf order.
        return sorted((f for d in dirs for r in self.order for p in r for f in found(d, p)),
                      key=self.rank)

    def existing(self, *names):
        return [p for p in (self.dir(*n.split("/")) for n in names) if os.path.isfile(p)]

    def core(self, *parts):
        """A system/core file of this release, else of the nearest release after it that has it
        (12L to 14 keep only init's parser and init.rc here)."""
        own = os.path.join(self.system_core, *parts)
        if os.path.exists(own):
            return own
        later = sorted(glob.glob(os.path.join(os.path.dirname(self.system_core), "android*",
                                              *parts)), key=release_key)
        return next((p for p in later if release_key(p) > release_key(self.system_core)), None)


def followed(path):
    """The file a symbolic link of the platform tree names, where a flattened copy kept the link
    as a file holding its target (reqd_mask/security_classes: "../private/security_classes")."""
    if os.path.getsize(path) < 256:
        target = read(path).strip()
        if re.fullmatch(r"\.\./[\w./]+", target) and \
                os.path.isfile(os.path.join(os.path.dirname(path), target)):
            return os.path.normpath(os.path.join(os.path.dirname(path), target))
    return path


def release_key(path):
    m = re.search(r"android(\d+)(L?)", path)
    return (int(m.group(1)), m.group(2)) if m else (0, "")


def releases(aosp, tree):
    if tree:
        sepolicy = os.path.join(aosp, "system", "sepolicy")
        soong = os.path.join(sepolicy, "build", "soong")
        return [Release(os.path.basename(os.path.abspath(aosp)), sepolicy,
                        os.path.join(soong, "policy.go"),
                        os.path.join(sepolicy, "tests", "check_prop_prefix.py"),
                        os.path.join(soong, "selinux_contexts.go"),
                        os.path.join(aosp, "system", "core"), "the tree at " + aosp,
                        os.path.join(sepolicy, "tests"))]
    found = []
    for sepolicy in sorted(glob.glob(os.path.join(aosp, "sepolicy", "android*")),
                           key=release_key):
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
                             os.path.join(aosp, "system-core", name), "; ".join(revision),
                             os.path.join(sepolicy, "tests")))
    return found


def expand(release, dirs, output):
    """m4 as the build runs it, into OUTPUT.conf: None, or m4's messages."""
    with open(output + ".conf", "w", encoding="utf-8") as conf:
        m4 = subprocess.run(["m4", "--fatal-warnings"] +
                            ["-D%s=%s" % d for d in sorted(DEFINES.items())] +
                            ["-s"] + release.policy_files(dirs),
                            stdout=conf, stderr=subprocess.PIPE, text=True)
    return None if m4.returncode == 0 else "m4: " + m4.stderr


def compile_policy(release, dirs, output, cil=False):
    """m4 and checkpolicy as the build runs them: None, or the tool's messages."""
    error = expand(release, dirs, output)
    if error:
        return error
    status, out = run(["checkpolicy", "-M", "-c", "30"] + (["-C"] if cil else []) +
                      ["-o", output, output + ".conf"])
    return None if status == 0 else out


def check_defines(release, files):
    used = set(re.findall(r"\b(target_(?!flag_)\w+|mls_num_\w+)", "".join(read(f) for f in files)))
    missing = sorted((used | release.defines) - set(DEFINES))
    if missing:
        fail("%s: no m4 definition for %s" % (release.name, ", ".join(missing)))


# ---- Property contexts --------------------------------------------------------------------------
def contexts(paths):
    """[(name or prefix, type, exact)] of property_contexts files (lines the platform's checker
    refuses are its to report)."""
    entries = []
    for path in paths:
        for line in read(path).splitlines():
            fields = line.split()
            if len(fields) >= 2 and not fields[0].startswith("#") and fields[1].count(":") >= 3:
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
            for r in self.setools.TERuleQuery(self.policy, ruletype=["allow"], source=source,
                                              tclass=[tclass]).results():
                for target in r.target.expand():
                    table.setdefault(str(target), set()).update(str(p) for p in r.perms)
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

    def transitions(self, source):
        """The domains source may transition to beyond those the platform gives every domain of
        its partition (crash_dump to all, netutils_wrapper to every vendor domain...): what
        all its peers (same side of coredomain, not apps) may enter is the platform's grant."""
        table = {}
        for r in self.setools.TERuleQuery(self.policy, ruletype=["allow"], tclass=["process"],
                                          perms=["transition"]).results():
            targets = {str(t) for t in r.target.expand()}
            for s in r.source.expand():
                table.setdefault(str(s), set()).update(targets)
        core = "coredomain" in self.attributes(source)
        peers = [t for t in table if t != source and "domain" in self.attributes(t) and
                 ("coredomain" in self.attributes(t)) == core and
                 "appdomain" not in self.attributes(t)]
        given = set.intersection(*(table[p] for p in peers)) if peers else set()
        return table.get(source, set()) - given

    def attributes(self, name):
        return {str(a) for a in self.policy.lookup_type(name).attributes()}

    def entering(self, domain):
        """{(source, exec type)} of the type transitions into domain, and the types that are its
        entry points."""
        into = set()
        for r in self.setools.TERuleQuery(self.policy, ruletype=["type_transition"],
                                          default=domain, tclass=["process"]).results():
            into |= {(str(s), str(t)) for s in r.source.expand() for t in r.target.expand()}
        entry = {str(t) for r in self.setools.TERuleQuery(
            self.policy, ruletype=["allow"], source=domain, tclass=["file"],
            perms=["entrypoint"]).results() for t in r.target.expand()}
        return into, entry


# ---- The daemon's rights: at least, and at most, what it uses ----------------------------------
def needed(entries, names):
    """The property types the daemon sets and the control entries that serve its requests (init
    checks ctl.<service>, then ctl.<action>$<service>: property_service.cpp,
    CheckControlPropertyPerms), with what the map could not name."""
    sets, controls, problems = {}, {}, []
    for prop in names["properties"]:
        if prop["target"] is None:
            problems.append("use %s: the map has no name for it" % prop["name"])
        elif prop["write"]:
            sets[prop["target"]] = label(entries, prop["target"])
    for control in names["controls"]:
        service = control["target_service"]
        if None in (service, control["target"]):
            problems.append("%s %s: the map has no name for it" % (control["property"],
                                                                   control["service"]))
            continue
        controls[(control["target"], service)] = ("ctl." + service,
                                                  "%s$%s" % (control["target"], service))
    return sets, controls, problems


def check_rights(policy, entries, names, out):
    sets, controls, bad = needed(entries, names)
    for prop in names["properties"]:
        name = prop["target"]
        if name and prop["read"] and not policy.can_read(DOMAIN, label(entries, name)):
            bad.append("read %s (%s)" % (name, label(entries, name)))
    bad += ["set %s (%s)" % (n, t) for n, t in sorted(sets.items())
            if not policy.can_set(DOMAIN, t)]
    used = set(sets.values())
    for (action, service), forms in sorted(controls.items()):
        allowed = [label(entries, n) for n in forms if policy.can_set(DOMAIN, label(entries, n))]
        if not allowed:
            bad.append("%s %s (neither %s, %s, nor %s, %s)" % (
                action, service, forms[0], label(entries, forms[0]), forms[1],
                label(entries, forms[1])))
        used |= set(allowed[:1])
    for problem in bad:
        out.append(("rights", "the daemon may not " + problem))
    return used


def check_bounds(policy, entries, names, used, own_entries, declared, out):
    """At most: it sets no property type but those it uses, is no mlstrustedsubject, enters its
    domain from its own executable only and leaves it for no other; its control entries are
    exact and name only the rild services its script declares."""
    for target in sorted(set(policy.granted(DOMAIN, "property_service")) - used):
        if "set" in policy.granted(DOMAIN, "property_service")[target]:
            out.append(("bounds", "the daemon may set %s, which none of its properties or control "
                        "requests has" % target))
    if "mlstrustedsubject" in policy.attributes(DOMAIN):
        out.append(("bounds", "the daemon is mlstrustedsubject"))
    for target in sorted(policy.transitions(DOMAIN) - {DOMAIN}):
        out.append(("bounds", "the daemon may transition to %s" % target))
    into, entry = policy.entering(DOMAIN)
    if into != {("init", DOMAIN + "_exec")} or entry != {DOMAIN + "_exec"}:
        out.append(("bounds", "the daemon's domain is entered by %s through %s, not by init "
                    "through %s_exec alone" % (sorted(into), sorted(entry), DOMAIN)))
    wanted = {f for s in {s for _, s in needed(entries, names)[1]} if s in declared
              for f in ("ctl." + s, "ctl.start$" + s, "ctl.restart$" + s)}
    for name, _, exact in own_entries:
        if name.startswith("ctl.") and not (exact and name in wanted):
            out.append(("bounds", "%s is not one exact entry of a declared rild service (%s)" %
                        (name, ", ".join(sorted(declared)))))


# ---- init, as a device parses the script -------------------------------------------------------
def rc_lines(path):
    """(line number, text) of a script's logical lines."""
    return [(i, l.rstrip()) for i, l in enumerate(read(path).splitlines(), 1)
            if l.strip() and not l.strip().startswith("#")]


def fixed_ids(header):
    """The user and group names init knows without a device's config.fs: the AID_ names of
    android_filesystem_config.h, lowercased (ranges and the app id base are not names)."""
    return {n.lower() for n in re.findall(r"^#define AID_(\w+)\s+\d+", read(header), re.M)
            if not re.search(r"_(START|END)$", n) and n not in ("APP", "USER", "OVERFLOWUID")}


def raised_events(path):
    return set(re.findall(r"^\s*trigger\s+(\S+)", read(path), re.M))


def start_point(release):
    """Where init.rc raises load_persist_props_action, and what late-init queues before it."""
    init_rc = release.core("rootdir", "init.rc")
    if not init_rc:
        return None
    action, queued = None, {}
    for number, line in rc_lines(init_rc):
        if line.startswith("on "):
            action = line[3:].strip()
        elif re.match(r"\s+trigger\s+\S+", line) and action:
            queued.setdefault(action, []).append((line.split()[1], number))
    where = next(((a, n) for a, t in queued.items() for e, n in t
                  if e == "load_persist_props_action"), None)
    if where is None:
        return None
    late = [e for e, _ in queued.get("late-init", [])]
    if where[0] == "late-init":
        before = late[late.index("load_persist_props_action") + 1:]
        return ("%s: init.rc:%d raises load_persist_props_action in late-init, before %s" %
                (release.name, where[1], ", ".join(before)))
    after = late[late.index(where[0]) + 1:] if where[0] in late else []
    return ("%s: init.rc:%d raises load_persist_props_action in its own 'on %s', after late-init "
            "has queued %s: the daemon starts after those actions" %
            (release.name, where[1], where[0], ", ".join(after)))


def check_init(release, integration, rc, policy, entries, out):
    init_rc = release.core("rootdir", "init.rc")
    header = release.core("libcutils", "include", "private", "android_filesystem_config.h")
    events = INIT_EVENTS | raised_events(init_rc) | raised_events(rc) if init_rc else None
    ids = fixed_ids(header) if header else None
    prefixes = init_prefixes(release)
    where = lambda n, l: "%s:%d: %s" % (os.path.basename(rc), n, l.strip())
    for number, line in rc_lines(rc):
        words = line.split()
        if words[0] == "on":
            for trigger in " ".join(words[1:]).split("&&"):
                trigger = trigger.strip()
                if trigger.startswith("property:"):
                    name = trigger[len("property:"):].split("=")[0]
                    if integration == "vendor" and prefixes is not None and \
                            not name.startswith(tuple(prefixes)) and \
                            not policy.can_read("vendor_init", label(entries, name)):
                        out.append(("init", "%s: init drops property:%s (unexported property "
                                    "trigger: not a partner prefix of action_parser.cpp and "
                                    "vendor_init may not read %s)" %
                                    (where(number, line), name, label(entries, name))))
                elif events is not None and trigger not in events:
                    out.append(("init", "%s: no trigger raises it (init.rc, init itself or "
                                "this script)" % where(number, line)))
        elif words[0] in ("user", "group") and ids is not None:
            for name in words[1:]:
                if name not in ids:
                    out.append(("init", "%s: %s is no fixed id of %s" % (
                        where(number, line), name, os.path.relpath(header))))
        if integration == "vendor":  # ${name} is expanded with vendor_init's rights
            for name in re.findall(r"\$\{([^}:]+)", line):
                if not policy.can_read("vendor_init", label(entries, name)):
                    out.append(("init", "%s: vendor_init may not read ${%s} (%s)" %
                                (where(number, line), name, label(entries, name))))


def init_prefixes(release):
    source = os.path.join(release.system_core, "init", "action_parser.cpp")
    if not os.path.isfile(source):
        return None
    listed = re.search(r"kPartnerPrefixes\[\]\s*=\s*\{(.*?)\}", read(source), re.S)
    return re.findall(r'"([^"]+)"', listed.group(1))


def declared_services(rc):
    return set(re.findall(r"^service\s+(\S+)", read(rc), re.M))


# ---- The platform's own tools --------------------------------------------------------------------
class Tools:
    """libsepolwrap.so, property_info_checker and a Python 2.7, built or found once."""

    def __init__(self, build):
        self.build = build
        self.python2 = find_python2()

    def libsepolwrap(self, release):
        os.makedirs(self.build, exist_ok=True)
        source = os.path.join(release.tests, "sepol_wrap.cpp")
        out = os.path.join(self.build, "libsepolwrap-%s.so" % digest([source]))
        if not os.path.exists(out):
            status, log = run(["g++", "-shared", "-fPIC", "-O1", "-include", "memory",
                               "-I/usr/include/android",
                               "-I" + os.path.join(release.tests, "include"), source, "-o", out,
                               "/usr/lib/x86_64-linux-gnu/libsepol.a", "-L" + android_libdir(),
                               "-lbase", "-Wl,-rpath," + android_libdir()])
            if status:
                raise RuntimeError("building libsepolwrap.so from %s:\n%s" % (source, log))
        return out

    def property_info_checker(self, release):
        top = release.core("property_service")
        if top is None:
            return None
        sources = [os.path.join(top, "property_info_checker", "property_info_checker.cpp")] + \
            sorted(glob.glob(os.path.join(top, "libpropertyinfoparser", "*.cpp"))) + \
            [p for p in sorted(glob.glob(os.path.join(top, "libpropertyinfoserializer", "*.cpp")))
             if not p.endswith("_test.cpp")]
        os.makedirs(self.build, exist_ok=True)
        out = os.path.join(self.build, "property_info_checker-%s" % digest(sources))
        if not os.path.exists(out):
            status, log = run(["g++", "-std=c++17", "-O1", "-include", "memory", "-include",
                               "algorithm", "-include", "cstring", "-I/usr/include/android",
                               "-I" + os.path.join(top, "libpropertyinfoparser", "include"),
                               "-I" + os.path.join(top, "libpropertyinfoserializer", "include")] +
                              sources + ["-o", out, "/usr/lib/x86_64-linux-gnu/libsepol.a",
                                         "-L" + android_libdir(), "-lbase",
                                         "-Wl,-rpath," + android_libdir()])
            if status:
                raise RuntimeError("building property_info_checker from %s:\n%s" % (top, log))
        return out

    def sepolicy_tests(self, release):
        """The command that runs the release's sepolicy_tests.py, or the reason it cannot run."""
        if release.tests is None:
            return None, "the release has no tests/sepolicy_tests.py"
        script = read(os.path.join(release.tests, "sepolicy_tests.py"))
        # 11 and 12L: Python 2 code (sort(cmp=...), print statements).
        python3 = not any(re.search(r"\bcmp=|^\s*print [^(]", read(f), re.M)
                          for f in glob.glob(os.path.join(release.tests, "*.py")))
        if not python3 and not self.python2:
            return None, "its sepolicy_tests.py is Python 2 code and no python2.7 runs here"
        os.makedirs(self.build, exist_ok=True)
        copy = os.path.join(self.build, "tests-" + release.name)
        if not os.path.isdir(copy):  # the library beside the scripts, as the build packs it
            shutil.copytree(release.tests, copy, ignore=shutil.ignore_patterns("*.pyc"))
            shutil.copy(self.libsepolwrap(release), os.path.join(copy, "libsepolwrap.so"))
        lib = os.path.join(copy, "libsepolwrap.so")
        python = [sys.executable if python3 else self.python2]
        if "def do_main(libpath)" in script:  # 14 on: do_main with the packed library's path
            return python + ["-c", "import sys; sys.path.insert(0, %r); sys.argv[0] = "
                             "'sepolicy_tests'; import sepolicy_tests; "
                             "sepolicy_tests.do_main(%r)" % (copy, lib)], None
        cmd = python + [os.path.join(copy, "sepolicy_tests.py")]
        return (cmd + ["-l", lib] if '"--library-path"' in script else cmd), None


def android_libdir():
    return "/usr/lib/%s/android" % subprocess.run(
        ["gcc", "-print-multiarch"], capture_output=True, text=True).stdout.strip()


def find_python2():
    candidates = [shutil.which("python2.7")] + sorted(glob.glob(os.path.expanduser(
        "~/.pyenv/versions/2.7*/bin/python2.7")))
    for python in filter(None, candidates):
        if subprocess.run([python, "-c", "import ctypes"], capture_output=True).returncode == 0:
            return python
    return None


def first_error(log):
    lines = [l for l in log.splitlines() if re.search(r"error|neverallow|unknown", l, re.I)]
    return (lines or log.splitlines() or ["(no message)"])[0].strip()


def neverallow_of(release, log):
    """'FILE:LINE' of the platform neverallow a failed build names, or None."""
    for m in re.finditer(r"neverallow on line (\d+) of (\S+)", log):
        if os.path.abspath(m.group(2)).startswith(os.path.abspath(release.sepolicy) + os.sep):
            return "%s:%s" % (os.path.relpath(m.group(2), release.sepolicy), m.group(1))
    return None


def expensive(plant, check):
    """Whether to run a slow check (a compile, a test suite) on an integration: on the shipped
    ones, and on a planted copy only when that check is the one that must refuse it."""
    return plant is None or plant.check == check


# ---- The run ------------------------------------------------------------------------------------
def integration_files(root, integration):
    """The files of one integration under root (android/<integration> or a planted copy)."""
    top = lambda *p: os.path.join(root, *p)
    files = {"rc": top("modemprep.rc"), "file_contexts": [top(FC[integration])],
             "property_contexts": [top(PC[integration])], "system_ext": [], "vendor": []}
    if integration == "platform":
        files["system_ext"] = [top("sepolicy", "public"), top("sepolicy", "private")]
    else:
        files["vendor"] = [top("sepolicy")]
    return files


def claims(table_path):
    """{release: {integration: whether docs/android.md claims its policy}} from its release table
    ("yes" and "policy only" are claims, "no" is not)."""
    found = {}
    for line in (read(table_path) if os.path.isfile(table_path) else "").splitlines():
        cells = [c.strip().strip("`*") for c in line.strip().strip("|").split("|")]
        if len(cells) >= 3 and re.fullmatch(r"android\w+", cells[0]):
            found[cells[0]] = {i: bool(re.match(r"(yes|policy only)", c, re.I))
                               for i, c in zip(INTEGRATIONS, cells[1:3])}
    return found


class Run:
    def __init__(self, args, repo):
        self.args, self.repo = args, repo
        self.claimed = claims(os.path.join(repo, "docs", "android.md"))
        self.names = ({i: json.loads(read(p)) for i, p in zip(INTEGRATIONS, args.names)}
                      if args.names else None)
        self.releases = [r for r in releases(args.aosp, args.tree)
                         if not args.release or r.name in args.release]
        # The tools are named by their sources' digest: kept from run to run.
        self.tools = Tools(os.path.join(os.path.dirname(os.path.abspath(args.build)),
                                        "platform-tools"))
        jobs = max(args.jobs, 1)
        self.pool = concurrent.futures.ThreadPoolExecutor(max_workers=jobs)  # compiles
        self.checkers = concurrent.futures.ThreadPoolExecutor(max_workers=jobs)  # the rest
        self.lock = threading.Lock()
        self.futures, self.base, self.types = {}, {}, {}

    def supported(self, release, integration):
        return self.claimed.get(release.name, {}).get(integration, True)

    def later(self, key, fn, *args):
        """A future of fn(*args), run once per key in the compile pool."""
        with self.lock:
            if key not in self.futures:
                self.futures[key] = self.pool.submit(fn, *args)
            return self.futures[key]

    def once(self, key, fn, *args):
        """fn(*args), computed once per key by the first thread that asks."""
        with self.lock:
            future = self.futures.get(key)
            mine = future is None
            if mine:
                future = self.futures[key] = concurrent.futures.Future()
        if mine:
            try:
                future.set_result(fn(*args))
            except Exception as error:  # raised again in every thread that asks
                future.set_exception(error)
        return future.result()

    def compiled(self, release, dirs, cil=False):
        """(path, future of the compile's messages) of a policy, built once per input."""
        files = release.policy_files(dirs)
        out = os.path.join(self.args.build, release.name,
                           "%s-%s" % ("cil" if cil else "policy", digest(files)))
        return out, self.later(out, compile_policy, release, dirs, out, cil)

    def plant(self, release, number, plant):
        root = os.path.join(self.args.build, release.name, "planted%d" % number)
        shutil.rmtree(root, ignore_errors=True)
        shutil.copytree(os.path.join(self.repo, "android", plant.integration), root)
        for path, old, new in plant.edits:
            text = read(os.path.join(root, path))
            if old is not None and old not in text:
                raise RuntimeError("planted %s: no %r in %s" % (plant.what, old, path))
            text = text + new if old is None else text.replace(old, new, 1)
            with open(os.path.join(root, path), "w", encoding="utf-8") as f:
                f.write(text)
        return root

    def runnable(self, release, integration, plant):
        """None, or why this integration (or plant) is not checked on release."""
        if not self.supported(release, integration):
            return "not claimed"
        if plant is None:
            return None
        if not plant.types <= self.types[release.name]:
            return "skipped, no %s in this release" % ", ".join(sorted(plant.types))
        if plant.check == "sepolicy_tests.py" and self.tools.sepolicy_tests(release)[0] is None:
            return "UNCHECKED, sepolicy_tests.py cannot run here"
        if plant.check == "check_prop_prefix.py" and not release.prefix_test:
            return "UNCHECKED, the release has no check_prop_prefix.py"
        return None

    def subjects(self):
        """(release, integration, root, plant) of every check to run, their compiles queued."""
        found = []
        for release in self.releases:
            os.makedirs(os.path.join(self.args.build, release.name), exist_ok=True)
            base = release.policy_dirs()
            files = release.policy_files(base)
            check_defines(release, files)
            conf = os.path.join(self.args.build, release.name, "types")
            self.types[release.name] = set() if expand(release, base, conf) else set(
                re.findall(r"^\s*(?:type|attribute)\s+(\w+)", read(conf + ".conf"), re.M))
            self.base[release.name] = self.compiled(release, base)
            for integration in INTEGRATIONS:
                found.append((release, integration,
                              os.path.join(self.repo, "android", integration), None))
            for number, plant in enumerate(PLANTED):
                if self.runnable(release, plant.integration, plant) is None:
                    found.append((release, plant.integration, self.plant(release, number, plant),
                                  plant))
        for release, integration, root, plant in found:
            files = integration_files(root, integration)
            self.compiled(release, release.policy_dirs(files["system_ext"], files["vendor"]))
            if integration == "vendor" and self.supported(release, integration) and \
                    expensive(plant, "vendor policy"):
                self.compiled(release, release.vendor_dirs(files["vendor"]), cil=True)
        return found

    def run(self):
        if not self.releases:
            fail("no platform policy under %s" % self.args.aosp)
            return
        start = time.monotonic()
        subjects = self.subjects()
        for release in self.releases:  # built while the policies compile
            self.tools.sepolicy_tests(release)
            self.tools.property_info_checker(release)
        results = [(s, self.checkers.submit(self.outcome, *s)) for s in subjects]
        for release in self.releases:
            self.report_release(release)
            for (release_, integration, _, plant), future in results:
                if release_ is release:
                    self.report(release, integration, plant, future.result())
            for number, plant in enumerate(PLANTED):
                why = self.runnable(release, plant.integration, plant)
                if why and why != "not claimed":
                    say("%s: planted %s (%s): %s" % (release.name, plant.what,
                                                     plant.integration, why))
        say("%d policy builds, the checks of %d integrations and planted copies: %.0f s" %
            (sum(1 for k in self.futures if isinstance(k, str)), len(subjects),
             time.monotonic() - start))

    def report_release(self, release):
        say("%s (%s)" % (release.name, release.revision))
        error = self.base[release.name][1].result()
        if error:
            fail("%s: the platform's own policy does not compile here, so this build is not the "
                 "platform's: %s" % (release.name, first_error(error)))
            return
        say("%s: the platform policy alone compiles" % release.name)
        point = start_point(release)
        say(point if point else "%s: no init.rc raising load_persist_props_action" % release.name)
        for what, reason in self.unchecked(release):
            say("%s: UNCHECKED %s: %s" % (release.name, what, reason))

    def unchecked(self, release):
        cmd, reason = self.tools.sepolicy_tests(release)
        found = [("sepolicy_tests.py", reason)] if cmd is None else []
        if not release.prefix_test:
            found.append(("check_prop_prefix.py", "the release has none (it came with 12)"))
        if not self.names:
            found.append(("the daemon's rights", "no name lists (--names)"))
        found.append(("treble_sepolicy_tests.py", "it compares with the previous releases' "
                      "policies (prebuilts/api), which the sources do not hold"))
        return found

    def checks(self, release, integration, root, plant):
        """[(check, message)] of every failure of one integration (shipped or planted)."""
        files = integration_files(root, integration)
        out = []
        binary, future = self.compiled(release, release.policy_dirs(files["system_ext"],
                                                                    files["vendor"]))
        if integration == "vendor" and expensive(plant, "vendor policy"):
            _, alone = self.compiled(release, release.vendor_dirs(files["vendor"]), cil=True)
            if alone.result():
                out.append(("vendor policy", "the vendor policy from the public policy alone: " +
                            first_error(alone.result())))
        error = future.result()
        if error:
            where = neverallow_of(release, error)
            return out + [("checkpolicy", "the neverallow at %s: %s" % (where, first_error(error))
                           if where else first_error(error))]
        status, text = run(["seinfo", binary, "--permissive"])
        permissive = re.findall(r"^\s+(\w+)$", text, re.M)
        if status or permissive:
            out.append(("permissive", "%s\nList of invalid domains: %s" %
                        (PERMISSIVE_ERROR, " ".join(permissive) or text)))
        cmd, _ = self.tools.sepolicy_tests(release)
        fcs = release.existing("private/file_contexts", "vendor/file_contexts") + \
            files["file_contexts"]
        if cmd and expensive(plant, "sepolicy_tests.py"):
            status, text = self.run_cached(cmd + ["-p", binary] +
                                           [a for f in fcs for a in ("-f", f)], [binary] + fcs)
            if status:
                out.append(("sepolicy_tests.py", text.strip()))
        checker = self.tools.property_info_checker(release)
        pcs = release.existing("public/property_contexts", "private/property_contexts",
                               "vendor/property_contexts") + files["property_contexts"]
        status, text = self.run_cached([checker, binary] + pcs, [binary] + pcs)
        if status:
            out.append(("property_info_checker", text.strip()))
        for path in files["file_contexts"]:
            status, text = run(["setfiles", "-c", binary, path])
            if status:
                out.append(("setfiles", text.strip()))
        if integration == "vendor" and release.prefix_test:
            for path in files["property_contexts"]:
                status, text = run([sys.executable, release.prefix_test, "--strict",
                                    "--property-contexts", path, "--allowed-property-prefix"] +
                                   vendor_prefixes(release) + ["--allowed-context-prefix"] +
                                   VENDOR_CONTEXT_PREFIXES)
                if status:
                    out.append(("check_prop_prefix.py", text.strip()))
        policy = self.once(("policy", binary), Policy, binary)
        entries = contexts(pcs)
        if self.names:  # else said once by unchecked()
            used = check_rights(policy, entries, self.names[integration], out)
            check_bounds(policy, entries, self.names[integration], used,
                         contexts(files["property_contexts"]), declared_services(files["rc"]),
                         out)
        check_init(release, integration, files["rc"], policy, entries, out)
        return out

    def run_cached(self, cmd, inputs):
        return self.once(("run", digest(inputs, cmd)), run, cmd)

    def outcome(self, release, integration, root, plant):
        """None when not checked, else the failures of every check."""
        if not self.supported(release, integration):
            return None if plant else self.unsupported(release, integration, root)
        return self.checks(release, integration, root, plant)

    def report(self, release, integration, plant, found):
        if found is None:
            return
        if not self.supported(release, integration):
            for _, message in found:
                say(message) if message.startswith(release.name + ": " + integration) else \
                    fail(message)
            return
        if plant is None:
            for check, message in found:
                fail("%s, %s integration: %s: %s" % (release.name, integration, check, message))
            if not found:
                say("%s, %s integration: passes every check" % (release.name, integration))
            return
        caught = [m for c, m in found if c == plant.check and re.search(plant.message, m)]
        if plant.check == "checkpolicy":  # a platform neverallow, not one of ours
            caught = [m for m in caught if "the neverallow at None" not in m]
        if caught:
            say("%s: planted %s (%s): refused by %s: %s" % (
                release.name, plant.what, integration, plant.check,
                " ".join(caught[0].split())[:300]))
        else:
            fail("%s: planted %s (%s) passes %s; failures: %s" % (
                release.name, plant.what, integration, plant.check,
                "; ".join("%s: %s" % f for f in found) or "none"))

    def unsupported(self, release, integration, root):
        files = integration_files(root, integration)
        _, future = self.compiled(release, release.policy_dirs(files["system_ext"],
                                                               files["vendor"]))
        if future.result():
            return [("table", "%s: %s integration not claimed (docs/android.md), and indeed: %s" %
                     (release.name, integration, first_error(future.result())))]
        return [("table", "%s: docs/android.md says the %s integration does not work here, but "
                 "its policy compiles: check it and correct the table" %
                 (release.name, integration))]


def main():
    parser = ArgumentParser(prog="python3 -m scripts.android_check", description=__doc__.split("\n\n")[0])
    parser.add_argument("--aosp", required=True, help="the platform sources")
    parser.add_argument("--tree", action="store_true",
                        help="AOSP is a platform tree (system/sepolicy...), not the flat copy")
    parser.add_argument("--build", required=True, help="directory for the work files")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--release", action="append",
                        help="check only this release (repeatable; default every one found)")
    parser.add_argument("--names", nargs=2,
                        metavar=("PLATFORM_JSON", "VENDOR_JSON"),
                        help="what each integration's name map makes of the daemon's names")
    args = parser.parse_args()
    check = Run(args, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    try:
        check.run()
    except RuntimeError as error:
        fail(str(error))
    finally:
        check.checkers.shutdown(cancel_futures=True)
        check.pool.shutdown(cancel_futures=True)
    if failures:
        say("%d failure(s)" % len(failures))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
