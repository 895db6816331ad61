"""A phone root with the simulator and the real daemon, timed from the outside.

Builds on the harness package (root layout, simulator process, daemon spawn, property tool) and
adds what a measurement needs: init requests seen through inotify the moment init.log changes,
the daemon's CPU from /proc, and uevents sent directly so that their send time is known to the
microsecond.
"""
import ctypes
import os
import select
import signal
import socket
import struct
import time

from mpharness import RESIDENT_LINE, UEVENT_SOCKET, Phone, scenario

TICKS_PER_S = os.sysconf("SC_CLK_TCK")

_IN_MODIFY = 0x002
_IN_CREATE = 0x100
_EVENT_HEAD = struct.Struct("iIII")


class ToolError(RuntimeError):
    """A tool or the daemon misbehaved: the benchmark itself is broken, not slow."""


class InitLogWatch:
    """Reports each change of <root>/init.log with the time it was seen (inotify on the root)."""

    def __init__(self, root):
        libc = ctypes.CDLL(None, use_errno=True)
        self.fd = libc.inotify_init1(os.O_NONBLOCK | os.O_CLOEXEC)
        if self.fd < 0 or libc.inotify_add_watch(self.fd, root.encode(),
                                                 _IN_MODIFY | _IN_CREATE) < 0:
            raise ToolError("inotify: errno %d" % ctypes.get_errno())

    def wait(self, timeout):
        """True with the time of the first event naming init.log, or (False, None) on time-out."""
        ready, _, _ = select.select([self.fd], [], [], timeout)
        if not ready:
            return False, None
        seen = time.monotonic()
        data = os.read(self.fd, 65536)
        offset, hit = 0, False
        while offset < len(data):
            _, _, _, length = _EVENT_HEAD.unpack_from(data, offset)
            name = data[offset + 16:offset + 16 + length].rstrip(b"\0")
            hit = hit or name == b"init.log"
            offset += 16 + length
        return hit, seen

    def close(self):
        os.close(self.fd)


def proc_cpu_ms(pid):
    """Time the process has run on a CPU, in milliseconds (/proc/PID/schedstat, nanoseconds)."""
    with open("/proc/%d/schedstat" % pid) as f:
        return int(f.read().split()[0]) / 1e6


def proc_stat_cpu_ms(pid):
    """utime + stime of a live process in milliseconds (clock-tick resolution)."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) * 1000.0 / TICKS_PER_S


def proc_status(pid):
    out = {}
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            name, _, value = line.partition(":")
            out[name] = value.strip()
    return out


class Rig:
    """One fresh root: simulator, daemon, and the timings of its init requests."""

    def __init__(self, build, scenario_name="two_cards", factory=b"221", properties=None):
        """build: the mpharness.Build whose programs are measured."""
        self.scenario = scenario(scenario_name)
        self.phone = Phone(self.scenario, factory=factory, properties=properties, build=build)
        self.root = self.phone.root
        self.phone.start_modem()
        self.watch = InitLogWatch(self.root)
        self.daemon = None

    def path(self, phone_path):
        return self.root + phone_path

    # ---- daemon ----------------------------------------------------------------------------
    def spawn(self, prefix=(), env=None):
        """Execs the daemon (under prefix, e.g. valgrind); returns the monotonic start time."""
        started = self.phone.start_daemon(prefix, env)
        self.daemon = self.phone.daemon
        return started

    def log(self):
        return self.phone.log()

    def log_size(self):
        return os.path.getsize(self.phone.log_path)

    def init_lines(self):
        return len(self.phone.init_log())

    def cpu_ms(self):
        return proc_cpu_ms(self.daemon.pid)

    def stat_cpu_ms(self):
        return proc_stat_cpu_ms(self.daemon.pid)

    def _check_alive(self):
        if self.daemon.poll() is not None:
            raise ToolError("daemon exited with %s:\n%s" % (self.daemon.returncode,
                                                            self.log()[-3000:]))

    def follow_init(self, done, timeout):
        """Records (time, init.log lines, daemon CPU ms, utime + stime ms) at every change of init.log until
        done() holds; returns the records."""
        records, deadline = [], time.monotonic() + timeout
        while not done(records):
            if time.monotonic() > deadline:
                raise ToolError("timed out; init.log %r; log tail:\n%s"
                                % (self.phone.init_log(), self.log()[-3000:]))
            self._check_alive()
            hit, seen = self.watch.wait(0.02)
            if hit:
                records.append((seen, self.init_lines(), self.cpu_ms(), self.stat_cpu_ms()))
        return records

    def wait_resident(self, timeout=60):
        """Follows init requests until the log shows the resident loop."""
        return self.follow_init(lambda records: RESIDENT_LINE in self.log(), timeout)

    def wait_requests_settled(self, before, quiet_s=0.3, timeout=60):
        """Follows init requests until init.log grew past `before` and stayed still quiet_s."""
        def done(records):
            return (records and records[-1][1] > before
                    and time.monotonic() - records[-1][0] > quiet_s)
        return self.follow_init(done, timeout)

    # ---- modem and uevents -----------------------------------------------------------------
    def quiet_card_change(self, slot, present):
        self.phone.control("insert-quiet" if present else "remove-quiet", str(slot))

    def send_uevent(self, slot, present):
        """Sends the slot's hot-plug uevent; returns the monotonic time just before the send."""
        text = b"change@/devices/virtual/sim/sim%d\0USIM%d\0%s\0" % (
            slot, slot, b"IN" if present else b"OUT")
        with socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM) as sender:
            sender.connect(self.path(UEVENT_SOCKET))
            sent = time.monotonic()
            sender.send(text)
        return sent

    def signal(self, number=signal.SIGTERM):
        self.daemon.send_signal(number)

    def close(self):
        self.watch.close()
        self.phone.close()
