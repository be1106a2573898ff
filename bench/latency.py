#!/usr/bin/env python3
"""How long a user waits on the programs, as distributions over many tries, on an idle machine and under full load
(a CPU-bound process at normal priority on every core): from the input that ends a program to its end, and from
its start to the cover on every monitor.
   latency.py [--tries N] [--idle-tries N] [--cover-tries N] [--programs tiles,quads] [--parts exit,cover]
              [--rows WHO:ON:INPUT,...] WORK_DIR
Who runs a program: "user", as a desktop does: an ordinary user with a desktop's default limits (no right to raise
a priority), in a session of its own, the load in another; "root", in the load's session, with the right to every
priority. Exit rows per program: the user on x11 (a key), in a daemon's window (SIGTERM) and on wayland (a key, a
click); root on x11 (a key), daemon and wayland (a click); root's under load only. Cover rows: the user on x11 and
on wayland. x11 is the cover presenter on Xvfb 1920x1080; daemon the program in a window handed over as a
screen-saver daemon does; wayland the native Wayland presenter on a headless sway (pixman) with outputs of 1920x1080
and 1280x720.
An exit try starts the program on a quiet machine, waits until its picture moves (past start-up), starts the load,
waits a random 50 to 500 ms, then ends it. The time runs from the moment bench/inject (on Wayland the tests' virtual
pointer and keyboard with -t), a client connected long before, flushes the input's request to the display server
(or from the moment SIGTERM is sent) to the moment this process reaps the program, waiting on a pidfd. A cover try
starts the load first, then the program; the time runs from the program's exec to the first look, one a
millisecond, that finds a pixel amid every monitor no longer white (X's root); on sway to the moment a window of
bench/focus_probe's loses the keyboard to the cover, which is then seen on every output (captures by grim, each of
which keeps sway busy for tens of ms, so that they cannot time it).
The measuring processes and the display server run ahead of the load, at real-time priority: their own turns are not
what is measured. "server" is the display server's part of an exit: from the flush until it has answered the next
request (so has delivered the input).
Prints one line per row, each exit try over the target after it with "host": the processor time the hypervisor gave
to other machines meanwhile, summed over the processors (a stall of the whole machine shows there, not as the
program's). Writes one JSON line per row, every time included, to WORK_DIR/rows.json, and each row under load against
its target to WORK_DIR/targets.txt (the cover's on wayland only). Needs TOVIX_TILES, TOVIX_QUADS (optimised builds),
TOVIX_INJECT, TOVIX_POINTER and TOVIX_FOCUS_PROBE."""
import argparse, ctypes, json, math, os, random, select, signal, subprocess, sys, time
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'e2e'))
sys.dont_write_bytecode = True  # no cache files in the source tree
import e2e, wayland

_x11 = ctypes.CDLL('libX11.so.6')
_x11.XOpenDisplay.restype = _x11.XGetImage.restype = ctypes.c_void_p
_x11.XDefaultRootWindow.restype = ctypes.c_ulong

SIZE = (1920, 1080, 0, 0)
OUTPUTS = [('HEADLESS-1', 1920, 1080, 0, 0, 1), ('HEADLESS-2', 1280, 720, 1920, 0, 1)]
TARGET_MS = 50
COVER_TARGET_MS = 100
EXIT_ROWS = [('user', 'x11', 'key'), ('user', 'daemon', 'SIGTERM'), ('user', 'wayland', 'key'),
             ('user', 'wayland', 'click'), ('root', 'x11', 'key'), ('root', 'daemon', 'SIGTERM'),
             ('root', 'wayland', 'click')]
GROUND = b'\x3f\x3f\x3f'  # sway's own, where nothing covers an output


def ahead_of_load(pid, priority):
    """Real-time priority for a process of the measurement (0: back to normal)."""
    os.sched_setscheduler(pid, os.SCHED_FIFO if priority else os.SCHED_OTHER, os.sched_param(priority))


class Injector:
    """bench/inject, or the virtual pointer and keyboard, on the display: connected once, for every try."""

    def __init__(self, argv, env):
        self.p = e2e.spawn(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, env=env)
        ahead_of_load(self.p.pid, 2)  # above the programs' lift, which is the lowest

    def ask(self, command):
        """The numbers inject answers."""
        self.p.stdin.write(command + '\n')
        self.p.stdin.flush()
        answer = self.p.stdout.readline().split()
        if not answer or not all(a.isdigit() for a in answer):
            raise RuntimeError('inject answered %r to %s' % (answer, command))
        return [int(a) for a in answer]

    def close(self):
        self.p.stdin.close()
        self.p.wait()


def x_pixels(s, x, y, w, h):
    """Pixels of the root, four bytes each, through a connection of our own."""
    if not hasattr(s, 'capture'):
        s.capture = ctypes.c_void_p(_x11.XOpenDisplay(s.display.encode()))
    image = ctypes.c_void_p(_x11.XGetImage(s.capture, ctypes.c_ulong(_x11.XDefaultRootWindow(s.capture)), x, y, w, h,
                                           ctypes.c_ulong(0xFFFFFF), 2))  # ZPixmap
    data = ctypes.cast(image.value + 16, ctypes.POINTER(ctypes.c_void_p))[0]  # past width, height, xoffset, format
    pixels = ctypes.string_at(data, w * h * 4)
    _x11.XFree(ctypes.c_void_p(data))
    _x11.XFree(image)
    return pixels


def grim(s, *where):
    """A capture by grim, ahead of the load, without its header: three bytes a pixel."""
    return subprocess.run(['chrt', '-f', '2', 'grim', '-t', 'ppm', *where, '-'], env=s.client_env(),
                          capture_output=True).stdout.split(b'\n', 3)[-1]


def covered(s):
    """Whether the pixel amid every monitor shows what the program drew, not what was there before it. On sway
    one capture of the box around those pixels, since each capture waits for a frame of sway's."""
    middles = [(x + w // 2, y + h // 2) for w, h, x, y in s.monitors]
    if isinstance(s, wayland.Sway):
        left, top = min(x for x, _ in middles), min(y for _, y in middles)
        width = max(x for x, _ in middles) - left + 1
        box = grim(s, '-g', '%d,%d %dx%d' % (left, top, width, max(y for _, y in middles) - top + 1))
        pixel = lambda x, y: box[3 * ((y - top) * width + x - left):][:3]
        return all(pixel(x, y) not in (b'', GROUND) for x, y in middles)
    return all(x_pixels(s, x, y, 1, 1) != b'\xff\xff\xff\x00' for x, y in middles)


def moving(s, p, who, seen):
    """Whether p is past start-up: root's at idle priority, and its picture, with nothing left of what it started
    on (tovixquads' start-up line may light one pixel) and not all black, has changed since the last look."""
    stat = e2e.proc(p.pid, 'stat').rpartition(') ')[2].split()
    if who == 'root' and (len(stat) <= 38 or stat[38] != '5'):  # field 41, the policy: 5 is SCHED_IDLE
        return False
    if isinstance(s, wayland.Sway):
        pixels = grim(s, '-o', s.outputs[0][0])
        if GROUND * 64 in pixels or pixels.count(0) >= len(pixels) - 3:
            return False
    else:
        pixels = x_pixels(s, 0, 0, *SIZE[:2])
        if pixels.count(b'\xff\xff\xff\x00') > 1 or pixels.count(b'\0\0\0\0') >= SIZE[0] * SIZE[1] - 1:
            return False
    changed = bool(seen) and seen[-1] != pixels
    seen[:] = [pixels]
    return changed


def stolen_ms():
    """The processor time the hypervisor has given to others, summed over this machine's processors (/proc/stat's
    steal, in ticks of 10 ms): a try during which it grows was not the program's alone to lose."""
    with open('/proc/stat') as f:
        return int(f.readline().split()[8]) * 1000 // os.sysconf('SC_CLK_TCK')


def reaped(p, limit):
    """Waits for p's end: the monotonic nanoseconds at which it was reaped, or None after limit seconds."""
    fd = os.pidfd_open(p.pid)
    try:
        if not select.select([fd], [], [], limit)[0]:
            return None
        _, status = os.waitpid(p.pid, 0)
        at = time.monotonic_ns()
        p.returncode = os.waitstatus_to_exitcode(status)  # Popen must not wait for it again
        return at
    finally:
        os.close(fd)


def stop(*processes):
    for p in processes:
        if p.poll() is None:
            p.kill()
        p.wait()


def launch(s, prog, who, presenter):
    if presenter != 'wayland':
        s.run('xsetroot', '-solid', 'white')
    args = ['-window-id', str(s.inject.ask('window')[0])] if presenter == 'daemon' else []
    return s.launch(prog, args=args, user=who == 'user')


def exit_try(s, prog, who, presenter, ending, load):
    """One start and end of prog: (ms to its end or None if it did not end with 0, the server's ms or None, the ms
    the hypervisor took from the machine meanwhile)."""
    p, seen = launch(s, prog, who, presenter), []
    if not e2e.poll(lambda: p.poll() is not None or moving(s, p, who, seen), 30, 0.005) or p.poll() is not None:
        raise RuntimeError('%s did not start to draw; see %s' % (prog, p.log))
    server = None
    with e2e.busy_jobs(None if load else []):
        try:
            time.sleep(random.uniform(0.05, 0.5))
            ahead_of_load(0, 2)
            stolen = stolen_ms()
            if ending == 'SIGTERM':
                sent = time.monotonic_ns()
                os.kill(p.pid, signal.SIGTERM)
            else:
                sent, answered = s.inject.ask(ending if ending != 'click' or presenter == 'wayland' else 'button')
                server = (answered - sent) / 1e6
            at = reaped(p, 5)
            stolen = stolen_ms() - stolen
        finally:
            ahead_of_load(0, 0)
    if at is None or p.returncode != 0:
        stop(p)
        return None, server, stolen
    return (at - sent) / 1e6, server, stolen


class FocusProbe:
    """bench/focus_probe: a window on sway that says when a cover takes the keyboard from it."""

    def __init__(self, s):
        self.p = e2e.spawn([os.environ['TOVIX_FOCUS_PROBE']], stdout=subprocess.PIPE, text=True, env=s.client_env())
        ahead_of_load(self.p.pid, 2)
        self.focused = False

    def wait(self, event, limit):
        """The monotonic ns at which event ("enter" or "leave") came, at once if it is the last that came; None
        after limit seconds."""
        end = time.monotonic() + limit
        while (self.focused != (event == 'enter')) and select.select([self.p.stdout], [], [],
                                                                      max(0, end - time.monotonic()))[0]:
            what, at = self.p.stdout.readline().split()
            self.focused, self.at = what == 'enter', int(at)
        return self.at if self.focused == (event == 'enter') else None

    def close(self):
        stop(self.p)


def cover_try(s, prog, presenter, load):
    """ms from the user's prog's start to its cover on every monitor, None if it never came. On X the first look
    at the monitors that finds them covered; on sway the moment the cover took the keyboard, then the picture seen
    on every output."""
    if presenter == 'wayland' and s.probe.wait('enter', 5) is None:
        raise RuntimeError('the focus probe never got the keyboard; see %s' % s.work)
    p, looks = None, []

    def look():
        looks.append(time.monotonic_ns())
        return covered(s)
    with e2e.busy_jobs(None if load else []):
        try:
            p = launch(s, prog, 'user', presenter)
            ahead_of_load(0, 2)  # after the start: the program would inherit it
            if presenter == 'wayland':
                up = s.probe.wait('leave', 10)
                return (up - p.when_ns) / 1e6 if up is not None and e2e.poll(lambda: covered(s), 5) else None
            return (looks[-1] - p.when_ns) / 1e6 if e2e.poll(look, 10, 0.001) else None
        finally:
            ahead_of_load(0, 0)
            stop(*[p] * (p is not None))


def percentile(values, q):
    """The nearest rank: the smallest value that at least q of the values do not exceed."""
    return sorted(values)[max(0, math.ceil(q * len(values)) - 1)]


def summary(times, **row):
    """A row's figures over its tries (None: a try that never ended, or never covered)."""
    worst = [t if t is not None else float('inf') for t in times]
    r = dict(row, tries=len(times), failed=times.count(None), median=percentile(worst, 0.5),
             p99=percentile(worst, 0.99), worst=max(worst))
    r = {k: round(v, 1) if isinstance(v, float) else v for k, v in r.items()}
    return dict(r, times=[round(t, 2) if t is not None else -1 for t in times])


def exit_row(s, prog, who, presenter, ending, tries, load):
    times, server, slow = [], [], []
    for _ in range(tries):
        ms, server_ms, stolen = exit_try(s, prog, who, presenter, ending, load)
        times.append(ms)
        slow += [[round(ms, 1) if ms is not None else -1, stolen]] if ms is None or ms > TARGET_MS else []
        server += [server_ms] if server_ms is not None else []
        s.children = [c for c in s.children if c.poll() is None]
    r = summary(times, part='exit', program='tovix' + prog, who=who, presenter=presenter, ending=ending,
                load='full' if load else 'idle', over=len(slow), slow=slow)
    if server:
        r.update(server_median=round(percentile(server, 0.5), 1), server_worst=round(max(server), 1))
    return r


def cover_row(s, prog, presenter, tries, load):
    times = []
    for _ in range(tries):
        times.append(cover_try(s, prog, presenter, load))
        s.children = [c for c in s.children if c.poll() is None]
    return summary(times, part='cover', program='tovix' + prog, who='user', presenter=presenter,
                   load='full' if load else 'idle')


EXIT_HEADER = '%-11s %-5s %-7s %-7s %-5s %6s %8s %8s %8s %7s %9s %9s' % (
    'exit ms', 'who', 'on', 'input', 'load', 'tries', 'median', 'p99', 'worst', '>%d ms' % TARGET_MS, 'server',
    'srv worst')
COVER_HEADER = '%-11s %-5s %-7s %-7s %-5s %6s %8s %8s %8s' % ('cover ms', 'who', 'on', '', 'load', 'tries', 'median',
                                                              'p99', 'worst')


def show(r):
    line = '%-11s %-5s %-7s %-7s %-5s %6d %8.1f %8.1f %8.1f' % (
        r['program'], r['who'], r['presenter'], r.get('ending', ''), r['load'], r['tries'], r['median'], r['p99'],
        r['worst'])
    if r['part'] == 'exit':
        line += ' %7d' % r['over'] + (
            ' %9.1f %9.1f' % (r['server_median'], r['server_worst']) if 'server_median' in r else ' ' * 20)
        # Each slow try, with what the hypervisor took from the machine meanwhile.
        line += ''.join('  %s (host %d ms)' % ('%.1f ms' % ms if ms >= 0 else 'no end', stolen)
                        for ms, stolen in r['slow'])
    return (line + ('  failed: %d' % r['failed'] if r['failed'] else '')).rstrip()


def session(presenter, work):
    """The display server of a presenter with its injector, connected once for every try, and the pointer amid the
    first monitor. A display server's delays are not the program's: it runs ahead of the load."""
    if presenter == 'wayland':
        s = wayland.Sway(work + '/sway', OUTPUTS)
        s.inject = Injector([os.environ['TOVIX_POINTER'], '-t'], s.client_env())
        s.inject.ask('to %d %d %d %d' % (SIZE[0] // 2, SIZE[1] // 2, sum(o[1] for o in OUTPUTS), SIZE[1]))
        s.probe = FocusProbe(s)
    else:
        s = e2e.Session('native', [SIZE], work + '/x11', pin=False)
        s.inject = Injector([os.environ['TOVIX_INJECT']], dict(os.environ, DISPLAY=s.display))
        s.run('xdotool', 'mousemove', SIZE[0] // 2, SIZE[1] // 2)
    ahead_of_load(s.x.pid, 1)
    return s


def main():
    a = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    a.add_argument('--tries', type=int, default=100)
    a.add_argument('--idle-tries', type=int, default=20)
    a.add_argument('--cover-tries', type=int, default=20)
    a.add_argument('--programs', default='tiles,quads')
    a.add_argument('--parts', default='exit,cover')
    a.add_argument('--rows', default=','.join(':'.join(r) for r in EXIT_ROWS), help='exit rows, WHO:ON:INPUT')
    a.add_argument('work')
    opts = a.parse_args()
    os.makedirs(opts.work, exist_ok=True)
    sessions, results = {}, []

    def on(presenter):
        kind = 'wayland' if presenter == 'wayland' else 'x11'
        sessions[kind] = sessions.get(kind) or session(kind, opts.work)
        return sessions[kind]

    def report(r):
        results.append(r)
        print(show(r), flush=True)
    try:
        if 'cover' in opts.parts:
            print(COVER_HEADER, flush=True)
            for presenter in ('x11', 'wayland'):
                for prog in opts.programs.split(','):
                    for load in (False, True):
                        report(cover_row(on(presenter), prog, presenter, opts.cover_tries, load))
        if 'exit' in opts.parts:
            print(EXIT_HEADER, flush=True)
            for who, presenter, ending in (r.split(':') for r in opts.rows.split(',')):
                for prog in opts.programs.split(','):
                    for load, tries in ((False, opts.idle_tries if who == 'user' else 0), (True, opts.tries)):
                        if tries > 0:
                            report(exit_row(on(presenter), prog, who, presenter, ending, tries, load))
    finally:
        for s in sessions.values():
            s.inject.close()
            if hasattr(s, 'probe'):
                s.probe.close()
            s.close()
        with open(os.path.join(opts.work, 'rows.json'), 'w') as f:
            f.writelines(json.dumps(r, separators=(',', ':')) + '\n' for r in results)
        with open(os.path.join(opts.work, 'targets.txt'), 'w') as f:
            f.writelines(line + '\n' for line in targets(results))


def targets(rows):
    """Each row under load against its target."""
    lines = []
    for r in rows:
        # X's cover waits out SDL's fullscreen handshake, up to 100 ms a window: its rows stand without a target.
        if r['load'] != 'full' or (r['part'] == 'cover' and r['presenter'] != 'wayland'):
            continue
        limit = TARGET_MS if r['part'] == 'exit' else COVER_TARGET_MS
        what = '%s <= %d ms under load, %s %s %s%s, worst of %d' % (
            r['part'], limit, r['program'], r['who'], r['presenter'], ' ' + r['ending'] if 'ending' in r else '',
            r['tries'])
        lines.append('  %-58s %12s  %s' % (what, '%.1f ms' % r['worst'] if r['worst'] != float('inf') else 'none',
                                           'met' if r['worst'] <= limit else 'MISSED'))
    return lines


if __name__ == '__main__':
    main()
