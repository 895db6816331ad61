"""The waits the daemon is bound to make over a stretch of its log, derived from its lines (the
records of tools/daemonlog).

Each rule reads the log (and, for the modem's own delays, the scenario) rather than assuming a
count, so that a run with retries, failed writes or a modem reset is charged the waits it really
had to make. The stretch ends at the last init request: the pause after that request lies
outside the measured window.
"""
from collections import Counter

OK = "\r\nOK\r\n"

# Lines that each stand for one fixed sleep: (name, the record's kind, its op or None for any,
# milliseconds).
LINE_RULES = (
    ("open settle 500 ms", "device", "ready", 500),
    ("open retry 1 s", "device", "open failed", 1000),
    ("open retry 1 s", "device", "absent", 1000),
    ("property retry 1 s", "property", "write failed", 1000),
    ("property retry 1 s", "init request", "write failed", 1000),
    # checkIMEI pauses after each of the two standbys, also one whose AT+CGSN was not sent; the
    # line is only reached with two SIMs.
    ("IMEI pauses 2 x 100 ms", "imei", None, 200),
)


def _has_field(answer, prefix):
    at = answer.find(prefix)
    return at >= 0 and answer.find("\r\n", at + len(prefix)) >= 0


def _dmcc_parsed(answer):
    at = answer.find("^DMCC: ")
    return at >= 0 and answer[at + 7:].count(",") >= 3


def _cimi_locked(answer):
    return "\r\n+CME ERROR: 11\r\n" in answer or "\r\n+CME ERROR: 12\r\n" in answer


# Commands retried after a pause when their answer is not accepted:
# command -> (name, pause ms, accepted(answer), pause skipped(answer)).
RETRY_RULES = {
    "AT^DCID": ("card query retry 300 ms", 300,
                lambda a: OK in a and _has_field(a, "^DCID: "), lambda a: False),
    "AT+CIMI": ("card query retry 300 ms", 300,
                lambda a: OK in a and _has_field(a, "+CIMI: "), _cimi_locked),
    "AT^DTOC": ("card query retry 300 ms", 300,
                lambda a: OK in a and ("\r\n^DTOC: 1\r\n" in a or "\r\n^DTOC: 2\r\n" in a),
                lambda a: False),
    "AT^DMCC?": ("capability retry 200 ms", 200,
                 lambda a: OK in a and _dmcc_parsed(a), lambda a: False),
}


def window(records):
    """The records up to and including the last request to start or restart a rild."""
    last = max((i for i, r in enumerate(records) if r["kind"] == "rild request"), default=-1)
    return records[:last + 1]


def exchanges(records):
    """(command, answer) pairs from the traffic log."""
    out = []
    for r in records:
        if r["kind"] != "traffic":
            continue
        if r["direction"] == "sent":
            out.append([r["bytes"].rstrip("\r"), ""])
        elif out:
            out[-1][1] += r["bytes"]
    return [tuple(pair) for pair in out]


def _line_waits(records, total):
    for r in records:
        for name, kind, op, ms in LINE_RULES:
            if r["kind"] == kind and op in (None, r.get("op")):
                total[name] += ms
        if r["kind"] == "switch nvram" and r["switch"] == "true":
            total["after modem reset 1 s"] += 1000
        if r["kind"] == "time-out":
            total["AT read time-outs"] += r["waited_ms"]
    requests = sum(1 for r in records if r["kind"] == "rild request")
    if requests > 1:
        total["init request pause 100 ms"] += 100 * (requests - 1)


def _retry_waits(pairs, total):
    for command, answer in pairs:
        rule = RETRY_RULES.get(command)
        if rule is None:
            continue
        name, ms, accepted, skipped = rule
        if not accepted(answer) and not skipped(answer):
            total[name] += ms


def _modem_waits(pairs, scenario, total):
    """What the simulated modem itself takes: latency, delayed status reports, the reset."""
    latency = scenario.get("latency_ms", 0)
    if latency:
        total["modem latency"] += latency * sum(1 for c, _ in pairs if c != "AT^DSRST")
    report = scenario.get("status_report", {})
    if report.get("mode") == "delayed":
        late = sum(1 for c, a in pairs if c == "AT^DUSIMR=1" and "^DUSIMU" not in a and OK in a)
        total["delayed status report"] += report.get("delay_ms", 0) * late
    reset = scenario.get("reset", {})
    if any(c == "AT^DSRST" for c, _ in pairs) and not reset.get("never", False):
        total["modem reset (^DMRST delay)"] += reset.get("dmrst_delay_ms", 200)


def mandated(records, scenario):
    """Mandated milliseconds up to the last init request, total and by cause."""
    msgs = window(records)
    total = Counter()
    _line_waits(msgs, total)
    pairs = exchanges(msgs)
    _retry_waits(pairs, total)
    _modem_waits(pairs, scenario, total)
    breakdown = {name: round(ms, 3) for name, ms in sorted(total.items()) if ms}
    return round(sum(total.values()), 3), breakdown, len(pairs)
