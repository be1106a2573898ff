"""tovix-idle end to end on Wayland compositors of our own, headless (wayland.py), as the desktop's user runs it,
starting tovixtiles after
--after 2 s without input: not before, counted again from an input; a click ends the program and the next
idle period starts it again; waiting, it never wakes; SIGTERM ends both with 0. A program that is not there
is one line and no retry until the next idle period, which an idle inhibitor holds back where the compositor
takes the tests' own (sway); the compositor going away ends tovix-idle with 0 and one line. Where nothing tells
the idle time (mutter without its bus), one line and exit code 1. The first failure ends the run.
   python3 idle_suite.py COMPOSITOR WORK_DIR     COMPOSITOR: a class of wayland.py in lower case (sway, gnome)"""
import os, re, signal, subprocess, sys, time
sys.dont_write_bytecode = True  # no cache files in the source tree
import e2e, wayland
from suite import check

AFTER = 2
EARLY = 0.2  # how much sooner a compositor's idle timer may fire: Qt's coarse timers (KWin's) take 5%
LATE = 10  # the bound on every wait for a start or an end, however busy the machine


def now():
    """The clock of the start times in /proc/PID/stat."""
    return time.clock_gettime(time.CLOCK_BOOTTIME)


def session(s):
    """What a client of s sees: its compositor, and its session bus if it has one, never the suite's own."""
    return {k: v for k, v in s.client_env().items() if k != 'DBUS_SESSION_BUS_ADDRESS' or k in s.env}


def stat(pid):
    return e2e.proc(pid, 'stat').rpartition(') ')[2].split()


def idle_argv(*program):
    return [e2e.reachable(os.environ['TOVIX_IDLE'])] + list(program)


class Idle:
    """tovix-idle --after 2 tovixtiles (or program) on the compositor s, what it says in WORK/name.log. Its own
    leaks would turn its exit code; the program's are not ours."""

    def __init__(self, s, name, program=None):
        self.log = '%s/%s.log' % (s.work, name)
        program = program or ['env', 'ASAN_OPTIONS=detect_leaks=0', e2e.reachable(os.environ['TOVIX_TILES'])]
        with open(self.log, 'w') as out:
            self.p = e2e.spawn(idle_argv('--after', str(AFTER), *program), e2e.become(s.uid, s.gid), True,
                               env=session(s), stdout=out, stderr=out)

    def program(self):
        """The pid of the program it runs, if one runs."""
        return next(iter(e2e.processes(lambda p: stat(p)[1:2] == [str(self.p.pid)])), None)

    def said(self):
        with open(self.log) as f:
            return f.read()

    def ends(self, program, how, lines):
        """tovix-idle ends with 0, having said so many lines, and leaves no program (pid, if any) behind."""
        check(e2e.poll(lambda: self.p.poll() is not None, LATE) and self.p.returncode == 0,
              'tovix-idle did not end with 0 within %d s of %s: %s\n%s' % (LATE, how, self.p.poll(), self.said()))
        check(self.said().count('\n') == lines, 'tovix-idle said on %s:\n%s' % (how, self.said()))
        check(not program or e2e.poll(lambda: not e2e.processes(lambda p: int(p) == program), LATE),
              'the program outlived tovix-idle after %s' % how)


def nudge(s):
    """A move of 3 pixels, and when it was sent."""
    sent = now()
    s.move('move', 3, 0)
    return sent


def starts(idle, since, what):
    """The program starts AFTER s after the input sent at since, not sooner, as the kernel stamped its start."""
    pid = e2e.poll(idle.program, AFTER + LATE)
    check(pid, 'no program within %d s of %s:\n%s' % (AFTER + LATE, what, idle.said()))
    fields = stat(pid)
    check(len(fields) > 19, 'the program ended as it started:\n' + idle.said())
    after = int(fields[19]) / os.sysconf('SC_CLK_TCK') - since
    print('the program started %.2f s after %s' % (after, what))
    check(after >= AFTER - EARLY, 'the program started %.2f s after %s, before %d s' % (after, what, AFTER))
    return pid


def asleep(pid):
    """Its context switches so far, once it sleeps in poll(2) (7 on x86-64)."""
    check(e2e.poll(lambda: e2e.proc(pid, 'syscall').startswith('7 '), LATE), 'tovix-idle does not wait in poll')
    return re.findall(r'ctxt_switches:\s+(\d+)', e2e.proc(pid, 'status'))


def click_away(s, pid):
    """Clicks until the program ends (one sent before its surface is there reaches nothing): the last click's time."""
    end = time.monotonic() + LATE
    while time.monotonic() < end:
        sent = now()
        s.move('click')
        if e2e.poll(lambda: not e2e.processes(lambda p: int(p) == pid), 0.5):
            return sent
    check(False, 'clicks for %d s did not end the program' % LATE)


def refused(s):
    """mutter speaks neither Wayland protocol: without its bus nothing tells the idle time."""
    r = subprocess.run(idle_argv('true'), env=dict(session(s), DBUS_SESSION_BUS_ADDRESS='unix:path=/nonexistent'),
                       capture_output=True, text=True, timeout=LATE, **s.as_user())
    check(r.returncode == 1 and r.stderr.count('\n') == 1 and 'tells no idle time' in r.stderr,
          'tovix-idle without idle time: exit %d, said:\n%s' % (r.returncode, r.stderr))


def main(compositor, work):
    s = getattr(wayland, compositor.capitalize())(work)
    try:
        if compositor == 'gnome':
            refused(s)
        nudge(s)  # GNOME's counts from the last input, however long before tovix-idle began
        idle = Idle(s, 'idle')
        time.sleep(1)
        check(idle.program() is None, 'the program started within 1 s:\n' + idle.said())
        pid = starts(idle, nudge(s), 'an input at 1 s')
        pid = starts(idle, click_away(s, pid), 'the click that ended it')
        switches = asleep(idle.p.pid)
        time.sleep(1)
        check(asleep(idle.p.pid) == switches, 'tovix-idle woke while the program ran without input')
        idle.p.send_signal(signal.SIGTERM)
        idle.ends(pid, 'SIGTERM', 0)  # nor did the clicked program end other than with 0

        inhibits = compositor == 'sway'
        if inhibits:
            s.move('inhibit')
        idle = Idle(s, 'gone', ['/nonexistent/tovix'])
        if inhibits:
            time.sleep(AFTER + 1)
            check(idle.said() == '', 'tovix-idle tried a program under an idle inhibitor:\n' + idle.said())
            s.move('release')
        missing = 'tovix-idle: cannot start /nonexistent/tovix: No such file or directory\n'
        check(e2e.poll(idle.said, AFTER + LATE) == missing,
              'tovix-idle said%s:\n%s' % (' once the inhibitor went' * inhibits, idle.said()))
        s.kill()
        idle.ends(None, 'the compositor going away', 2)
    finally:
        s.close()


if __name__ == '__main__':
    main(*sys.argv[1:])
    print('%s: passed' % sys.argv[1])
