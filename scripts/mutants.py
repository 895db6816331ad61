#!/usr/bin/env python3
"""Deliberate faults in the daemon, each of which the tests must catch.

Applies one mutation at a time to a copy of the source tree, builds it there and runs the unit
tests (and, for the few faults only a real device node or a real crash shows, the end-to-end
test named with the mutant); a mutant is caught when a test fails. Prints a line per mutant and
exits 1 when any survived. The source tree itself is never changed.

    python3 -m scripts.mutants                 # every mutant (from the repository's top folder)
    python3 -m scripts.mutants ring-wrap ...   # some of them
    python3 -m scripts.mutants --list
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

from tools.mpharness.cli import ArgumentParser

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# name: (file, text to replace, replacement, what the fault is[, the end-to-end test that catches
# it when the unit tests cannot])
MUTANTS = {
    "ring-wrap": ("src/card/history.cc", "(info.m_nextIndex + 1) % CARD_HISTORY_ENTRIES",
                  "(info.m_nextIndex + 1) % (CARD_HISTORY_ENTRIES + 1)",
                  "the ring index wraps one entry late"),
    "ring-repair": ("src/card/history.cc", "info.m_nextIndex >= CARD_HISTORY_ENTRIES",
                    "info.m_nextIndex > CARD_HISTORY_ENTRIES", "an index of 20 is not repaired"),
    "ring-duplicate": ("src/card/history.cc", "if (ringHolds(info, card)) return;",
                       "if (false && ringHolds(info, card)) return;",
                       "a card already in the ring is added again"),
    "table-row": ("src/rat/policy.cc", "    {3, 3, 4, 3, 3, 5, 3, 3},\n    {3, 5, 6, 4, 6, 5, 5, 5},",
                  "    {3, 5, 6, 4, 6, 5, 5, 5},\n    {3, 3, 4, 3, 3, 5, 3, 3},",
                  "two rows of the cmcc actual table swapped"),
    "table-cells": ("src/rat/policy.cc", "    {1, 1, 1, 1, 5, 2},", "    {1, 1, 1, 1, 2, 5},",
                    "two cells of the cucc actual table swapped"),
    "query-retry": ("src/card/query.cc", "kQueryAttempts = 5", "kQueryAttempts = 1",
                    "card queries are not retried"),
    "final-code": ("src/modem/exchange.h", '    {"\\r\\nERROR", false},\n', "",
                   "an ERROR split before its line end does not end the exchange"),
    "ok-success": ("src/modem/exchange.h", '{"\\r\\nOK\\r\\n", true}', '{"\\r\\nOK\\r\\n", false}',
                   "no answer counts as OK"),
    "ro-publish": ("src/profile/load.cc",
                   '  setProp(prop::kPublishedRatList, ratList, kPublishTries);\n', "",
                   "the filtered RAT list is not published"),
    "plmn-loop": ("src/card/classify.cc", "for (int i = 1; i < PLMN_LIST_ENTRIES",
                  "for (int i = 0; i < PLMN_LIST_ENTRIES",
                  "the country prefix counts as a network code"),
    "puk-retries": ("src/card/classify.cc", ', "\\r\\n+CME ERROR: 12\\r\\n"', "",
                    "a PUK-locked card is asked for its IMSI five times"),
    "init-pause": ("src/ril/ril.cc", "kInitRequestPauseUs = 100000", "kInitRequestPauseUs = 0",
                   "no pause after an init request"),
    "manual-bound": ("src/profile/load.cc", "index > profile.standbyCount",
                     "index >= profile.standbyCount", "a manual index equal to the count refused"),
    "dstmex-prefix": ("src/ril/ril.cc", "strcmp(oldDstmex, dstmex) != 0",
                      "strncmp(oldDstmex, dstmex, strlen(dstmex)) != 0",
                      "an old DSTMEX continuing the new one is no change"),
    "late-answer": ("src/modem/exchange.cc", "  if (!link.lateAnswerPending) return;\n",
                    "  return;\n", "a late answer is taken for the next command's"),
    "hotplug-candidate": ("src/hotplug/hotplug.cc", "(stored & bit) == 0 ? stored | bit : candidate",
                          "(candidate & bit) == 0 ? candidate | bit : candidate",
                          "the second slot's change builds on the first's"),
    "master-default-data": ("src/rat/policy.cc", "in.defaultDataCard[0] == '0' ? MasterCode::k12",
                            "in.defaultDataCard[0] == '1' ? MasterCode::k12",
                            "the default data card picks the other card"),
    "sim-keeps-4g": ("src/rat/policy.cc", "    mask &= ~profile.rat4GMask;\n  }\n  if (in.pref",
                     "  }\n  if (in.pref", "a SIM card keeps LTE"),
    "store-sorted": ("src/platform/host/store.cc", "compareNames(line, nameLength, rewrite.name) > 0",
                     "compareNames(line, nameLength, rewrite.name) < 0",
                     "the host store does not keep its lines sorted"),
    "split-code": ("src/modem/exchange.cc",
                   "isFinalReponse(chunk.text) || finalCodeAcrossReads(tail, chunk.text)",
                   "isFinalReponse(chunk.text) || (false && finalCodeAcrossReads(tail, chunk.text))",
                   "a final code split between two reads is not seen"),
    # Only a real device node can be opened again: the end-to-end hang-up cases catch these.
    "no-reopen": ("src/modem/exchange.cc", "if (link.line.lost && recoverLine(link)) outcome",
                  "if (false && recoverLine(link)) outcome", "a lost line is not opened again",
                  "e2e.test_hardening.HangupTest"),
    "swap-record": ("src/modem/nvram.cc",
                    "  if (writeRestoreRecord(restore)) {\n    setProp(kRestoreLines[line].property, "
                    "value, tries);\n",
                    "  setProp(kRestoreLines[line].property, value, tries);\n"
                    "  if (writeRestoreRecord(restore)) {\n",
                    "a reset flag is changed before its record", "e2e.test_crash"),
    "swap-unrecorded": ("src/modem/nvram.cc", "  if (writeRestoreRecord(restore)) {",
                        "  if (writeRestoreRecord(restore) || true) {",
                        "a reset flag is changed though what restores it could not be recorded",
                        "e2e.test_crash.CrashTest.test_a_full_partition_then_a_kill_at_the_"
                        "reset_loses_nothing"),
    "candidate-bit": ("src/main/resident.cc", "bool present = isPresent(state.cards.cardInfo[slot]);",
                      "bool present = (candidate & bit) != 0;",
                      "the stored bit follows the event's word, not the card"),
    "carried": ("src/modem/exchange.cc", "copyText(resp.text, link.carried);", "",
                "what followed a late answer is lost"),
    "locale-rule": ("src/card/classify.cc",
                    "CardLocale::kCmccSameCountry, CardLocale::kCmccForeign}",
                    "CardLocale::kCmccForeign, CardLocale::kCmccSameCountry}",
                    "cmcc cards of the home country and of others change places"),
    "pref-102": ("src/rat/policy.cc", "{102, kGroup4G}", "{103, kGroup4G}",
                 "a preferred network type of 102 keeps LTE"),
    "dstmex-3g": ("src/rat/policy.cc", '{kGroup3G, ",2"}', '{kGroup3G, ",1"}',
                  "a DSTMEX names the wrong access technology for 3G"),
    "ring-negative": ("src/card/history.cc", "info.m_nextIndex < 0 || ", "",
                      "a negative ring index is not repaired"),
    "imei-chars": ("src/card/imei.cc", "first[1] != '\\0' && first[2] != '0'",
                   "first[0] != '\\0' && first[1] != '0'",
                   "the IMEI check looks at the first two characters, not the second and third"),
    "imei-short": ("src/card/imei.cc", "first[1] != '\\0' && ", "",
                   "an IMEI of one character is given to the second standby"),
    "store-value-bound": ("src/platform/host/store.cc", "strlen(value) > kMaxValueLength",
                          "strlen(value) > kMaxValueLength + 1",
                          "the host store takes a value one byte too long"),
    "guard-first-digit": ("src/main/startup.cc", "return value[1] == '1';",
                          "return value[0] == '1' || value[1] == '1';",
                          "a master card switch flag of 10 stops the start"),
    "report-bound": ("src/modem/exchange.cc", "int64_t leftUs = wait.totalUs - elapsedUs(whole);",
                     "int64_t leftUs = wait.totalUs - 0 * elapsedUs(whole);",
                     "every read of a report wait gets the whole bound again"),
    "report-split": ("src/modem/exchange.cc", "    keepTail(tail, joined);\n  }\n  return -1;",
                     "    tail[0] = '\\0';\n  }\n  return -1;",
                     "a report cut between two reads is not seen"),
    "answer-full": ("src/modem/exchange.cc",
                    "  memmove(resp.text, resp.text + cut, fill - cut + 1);\n  return fill - cut;",
                    "  return fill + 0 * cut;",
                    "a reply behind unsolicited lines that filled the answer is dropped"),
    "nul-ends-text": ("src/modem/line.cc", "dropNuls(chunk.text, chunk.read)",
                      "dropNuls(chunk.text, strnlen(chunk.text, chunk.read))",
                      "a NUL byte from the modem ends what a read gave"),
    # A kill keeps the page cache: only the order of the calls shows a sync left out.
    "no-file-sync": ("src/platform/files.cc", "fflush(file) == 0 && fsync(fileno(file)) == 0",
                     "fflush(file) == 0", "a replacement is renamed before its data are synced",
                     "e2e.test_crash.CrashTest.test_every_replaced_file_is_synced_before_its_"
                     "rename_and_its_directory_after"),
    "no-directory-sync": ("src/platform/files.cc", "bool synced = fsync(dir) == 0;",
                          "bool synced = true;", "the directory of a rename is not synced",
                          "e2e.test_crash.CrashTest.test_every_replaced_file_is_synced_before_"
                          "its_rename_and_its_directory_after"),
    "sim-standby-range": ("tools/modemsim/modem.cc", "r.arg[0] >= '0' + kMaxStandbys",
                          "r.arg[0] > '0' + kMaxStandbys",
                          "the simulator takes a standby one past its last"),
}


def run(args, cwd, log):
    return subprocess.run(args, cwd=cwd, stdout=log, stderr=subprocess.STDOUT).returncode


def try_mutant(name, work, log):
    path, old, new = MUTANTS[name][:3]
    e2e = MUTANTS[name][4] if len(MUTANTS[name]) > 4 else None
    source = os.path.join(work, path)
    with open(source) as f:
        text = f.read()
    if text.count(old) != 1:
        return "stale (its text is not in %s once)" % path
    with open(source, "w") as f:
        f.write(text.replace(old, new))
    try:
        build = os.path.join(work, "build-mutants")
        if run(["cmake", "--build", build, "-j2"], work, log) != 0:
            return "caught (build fails)"
        if run(["ctest", "--test-dir", build, "-L", "unit", "-j2"], work, log) != 0:
            return "caught"
        if e2e is not None:
            env = dict(os.environ, MODEMPREP_BUILD=build, PYTHONDONTWRITEBYTECODE="1",
                       PYTHONPATH=os.path.join(work, "tools"))
            if subprocess.run([sys.executable, "-m", "unittest", e2e], cwd=os.path.join(work, "tests"),
                              env=env, stdout=log, stderr=subprocess.STDOUT).returncode != 0:
                return "caught (%s)" % e2e
        return "SURVIVED"
    finally:
        with open(source, "w") as f:
            f.write(text)


def main():
    parser = ArgumentParser(prog="python3 -m scripts.mutants", description=__doc__.split("\n\n")[0])
    parser.add_argument("mutants", nargs="*", metavar="MUTANT", help="names (default: all)")
    parser.add_argument("--list", action="store_true", help="list the mutants and exit")
    args = parser.parse_args()
    if args.list:
        for name, mutant in MUTANTS.items():
            print("%-20s %-24s %s" % (name, mutant[0], mutant[3]))
        return 0
    unknown = [m for m in args.mutants if m not in MUTANTS]
    if unknown:
        parser.error("unknown mutant %s (see --list)" % ", ".join(unknown))
    names = args.mutants or list(MUTANTS)
    work = tempfile.mkdtemp(prefix="modemprep-mutants.")
    try:
        for item in ("src", "tests", "tools", "bench", "cmake", "CMakeLists.txt",
                     "CMakePresets.json"):
            copy = shutil.copytree if os.path.isdir(os.path.join(ROOT, item)) else shutil.copy
            copy(os.path.join(ROOT, item), os.path.join(work, item))
        print("building the unmutated tree in %s ..." % work, flush=True)
        with open(os.path.join(work, "mutants.log"), "w") as log:
            if run(["cmake", "--preset", "default", "-B", "build-mutants", "-DMODEMPREP_BENCH=OFF"],
                   work, log) != 0 or run(["cmake", "--build", "build-mutants", "-j2"], work,
                                          log) != 0:
                print("mutants: the unmutated tree does not build (see %s/mutants.log)" % work,
                      file=sys.stderr)
                return 1
            survived = 0
            for name in names:
                start = time.monotonic()
                verdict = try_mutant(name, work, log)
                survived += verdict == "SURVIVED"
                print("%-20s %-10s %5.1f s  %s" % (name, verdict, time.monotonic() - start,
                                                   MUTANTS[name][3]), flush=True)
        print("%d of %d caught" % (len(names) - survived, len(names)))
        return 1 if survived else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
