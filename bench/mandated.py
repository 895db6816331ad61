"""The waits the daemon is bound to make over a stretch of its log, derived from its lines.

Each rule reads the log (and, for the modem's own delays, the scenario) rather than assuming a
count, so that a run with retries, failed writes or a modem reset is charged the waits it really
had to make. The stretch ends at the last init request: the pause after that request lies
outside the measured window.
"""
import re
from collections import Counter

LOG_LINE = re.compile(r"^([VDIWEF])/modemprep\(\s*\d+\): (.*)$")
TRAFFIC = re.compile(r"^\[-?\d+\](>>|<<) (.*)$")
INIT_REQUEST = re.compile(r"^start rild\d+$")

OK = "\r\nOK\r\n"

# Lines that each stand for one fixed sleep: (name, pattern, milliseconds).
LINE_RULES = (
    ("open settle 500 ms", re.compile(r'^device ".*" is ready\.$'), 500),
    ("open retry 1 s", re.compile(r'^\(\d+/\d+\)(open|access) device ".*" fail: '), 1000),
    ("property retry 1 s", re.compile(r"^set property: \[.*\]: \[.*\] failed$"), 1000),
    # checkIMEI pauses after each of the two standbys, also one whose AT+CGSN was not sent; the
    # line is only reached with two SIMs.
    ("IMEI pauses 2 x 100 ms", re.compile(r"^IMEI\[0\] = .*, IMEI\[1\] = "), 200),
    ("after modem reset 1 s", re.compile(r"^is switch nvram\(true\)$"), 1000),
)

TIME_OUT = re.compile(r"^read time out: (\d+):(\d+) -> (\d+):(\d+)$")


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


def messages(log_text):
    """(letter, message) for every line of the daemon's log in logcat brief format."""
    out = []
    for line in log_text.splitlines():
        match = LOG_LINE.match(line)
        if match:
            out.append((match.group(1), match.group(2)))
    return out


def window(msgs):
    """The messages up to and including the last init request ("start rildN" at error level)."""
    last = max((i for i, (letter, text) in enumerate(msgs)
                if letter == "E" and INIT_REQUEST.match(text)), default=-1)
    return msgs[:last + 1]


def exchanges(msgs):
    """(command, answer) pairs from the traffic log; <CR> and <LF> turned back into bytes."""
    out = []
    for _, text in msgs:
        match = TRAFFIC.match(text)
        if not match:
            continue
        body = match.group(2).replace("<CR>", "\r").replace("<LF>", "\n")
        if match.group(1) == ">>":
            out.append([body.rstrip("\r"), ""])
        elif out:
            out[-1][1] += body
    return [tuple(pair) for pair in out]


def _line_waits(msgs, total):
    for _, text in msgs:
        for name, pattern, ms in LINE_RULES:
            if pattern.match(text):
                total[name] += ms
        match = TIME_OUT.match(text)
        if match:
            s0, ns0, s1, ns1 = (int(g) for g in match.groups())
            total["AT read time-outs"] += (s1 - s0) * 1000 + (ns1 - ns0) / 1e6
    requests = sum(1 for letter, text in msgs if letter == "E" and INIT_REQUEST.match(text))
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


def mandated(log_text, scenario):
    """Mandated milliseconds up to the last init request, total and by cause."""
    msgs = window(messages(log_text))
    total = Counter()
    _line_waits(msgs, total)
    pairs = exchanges(msgs)
    _retry_waits(pairs, total)
    _modem_waits(pairs, scenario, total)
    breakdown = {name: round(ms, 3) for name, ms in sorted(total.items()) if ms}
    return round(sum(total.values()), 3), breakdown, len(pairs)
