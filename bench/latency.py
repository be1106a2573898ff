#!/usr/bin/env python3
"""How long a program takes to end after the input that ends it, as a distribution over many tries: per program
and presenter, under full load (a CPU-bound process at normal priority on every core) and on an idle machine.
   exit_latency.py [--tries N] [--idle-tries N] [--rows x11,daemon,wayland] [--programs tiles,quads] WORK_DIR
Presenters: x11, the cover presenter on Xvfb 1920x1080, ended by a key press and a button press in turns; daemon,
the program in a window handed over as a screen-saver daemon does, ended by SIGTERM; wayland, the native Wayland
presenter on a headless sway (pixman) with one 1920x1080 output, ended by a click of tests/e2e's virtual pointer.
A try starts the program on a quiet machine, waits until its picture moves (past start-up), starts the load, waits
a random 50 to 500 ms, then ends it. The time runs from the moment bench/inject (on Wayland the virtual pointer
with -t), a client connected long before, flushes the input's request to the display server (or from the moment
SIGTERM is sent) to the moment this process reaps the program, waiting on a pidfd. The measuring processes and the
display server run ahead of the load, at real-time priority where allowed: their own turns are not what is
measured. "server" is the display server's part: from the flush until it has answered the next request (so has
delivered the input).
Prints one line per row, each try over the target after it with "host": the processor time the hypervisor gave
to other machines meanwhile, summed over the processors (a stall of the whole machine shows there, not as the
program's). Writes one JSON line per row, every time included, to WORK_DIR/rows.json. Needs TOVIX_TILES, TOVIX_QUADS
(optimised builds), TOVIX_INJECT and, for wayland, TOVIX_POINTER."""
import argparse, ctypes, json, math, os, random, select, signal, subprocess, sys, time
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'e2e'))
sys.dont_write_bytecode = True  # no cache files in the source tree
import e2e, wayland
from screen_rate import _x11

SIZE = (1920, 1080, 0, 0)
TARGET_MS = 50


def ahead_of_load(pid, priority):
    """Real-time priority for a process of the measurement (0: back to normal); nice -10 where that is refused."""
    try:
        os.sched_setscheduler(pid, os.SCHED_FIFO if priority else os.SCHED_OTHER, os.sched_param(priority))
    except PermissionError:
        try:
            os.setpriority(os.PRIO_PROCESS, pid, -10 if priority else 0)
        except PermissionError:
            pass


class Injector:
    """bench/inject, or the virtual pointer, on the display: connected once, for every try."""

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


def screen(s):
    """The root's pixels, four bytes each, through a connection of our own; on sway the output's, three each."""
    if isinstance(s, wayland.Sway):
        return subprocess.run(['grim', '-t', 'ppm', '-o', s.outputs[0][0], '-'], env=s.client_env(),
                              capture_output=True).stdout.split(b'\n', 3)[-1]
    if not hasattr(s, 'capture'):
        s.capture = ctypes.c_void_p(_x11.XOpenDisplay(s.display.encode()))
    w, h = SIZE[:2]
    image = ctypes.c_void_p(_x11.XGetImage(s.capture, ctypes.c_ulong(_x11.XDefaultRootWindow(s.capture)), 0, 0, w, h,
                                           ctypes.c_ulong(0xFFFFFF), 2))  # ZPixmap
    data = ctypes.cast(image.value + 16, ctypes.POINTER(ctypes.c_void_p))[0]  # as screen_rate reads it
    pixels = ctypes.string_at(data, w * h * 4)
    _x11.XFree(ctypes.c_void_p(data))
    _x11.XFree(image)
    return pixels


def moving(s, p, seen):
    """Whether p is past start-up: at idle priority, and its picture, with nothing left of the white it started on
    (tovixquads' start-up line may light one pixel; on sway of its grey ground) and not all black, has changed
    since the last look."""
    stat = e2e.proc(p.pid, 'stat').rpartition(') ')[2].split()
    if len(stat) <= 38 or stat[38] != '5':  # field 41, the policy: 5 is SCHED_IDLE
        return False
    pixels = screen(s)
    if isinstance(s, wayland.Sway):
        if bytes([63] * 3 * 64) in pixels or pixels.count(0) >= len(pixels) - 3:
            return False
    elif pixels.count(b'\xff\xff\xff\x00') > 1 or pixels.count(b'\0\0\0\0') >= SIZE[0] * SIZE[1] - 1:
        return False
    changed = bool(seen) and seen[-1] != pixels
    seen[:] = [pixels]
    return changed


def busy_jobs(count):
    """count CPU-bound processes at normal priority, once each has had some processor time."""
    busy = [e2e.spawn([sys.executable, '-c', 'while True: pass']) for _ in range(count)]
    e2e.poll(lambda: all(sum(map(int, e2e.proc(b.pid, 'stat').rpartition(') ')[2].split()[11:13])) > 5
                         for b in busy), 5, 0.005)
    return busy


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


def one_try(s, inject, prog, row, n, load):
    """One start and end of prog: (ms to its end or None if it did not end with 0, the server's ms or None, the
    ms the hypervisor took from the machine meanwhile)."""
    args = ['-window-id', str(inject.ask('window')[0])] if row == 'daemon' else []
    if row != 'wayland':
        s.run('xsetroot', '-solid', 'white')
    p = s.launch(prog, args=args)
    seen = []
    if not e2e.poll(lambda: p.poll() is not None or moving(s, p, seen), 30, 0.005) or p.poll() is not None:
        raise RuntimeError('%s did not start to draw; see %s' % (prog, p.log))
    busy = busy_jobs(os.cpu_count() if load else 0)
    server = None
    try:
        time.sleep(random.uniform(0.05, 0.5))
        ahead_of_load(0, 2)
        stolen = stolen_ms()
        if row == 'daemon':
            sent = time.monotonic_ns()
            os.kill(p.pid, signal.SIGTERM)
        else:
            sent, answered = inject.ask('click' if row == 'wayland' else 'key' if n % 2 == 0 else 'button')
            server = (answered - sent) / 1e6
        at = reaped(p, 5)
        stolen = stolen_ms() - stolen
    finally:
        ahead_of_load(0, 0)
        for b in busy:
            b.kill()
            b.wait()
    if at is None or p.returncode != 0:
        p.kill()
        p.wait()
        return None, server, stolen
    return (at - sent) / 1e6, server, stolen


def percentile(values, q):
    """The nearest rank: the smallest value that at least q of the values do not exceed."""
    return sorted(values)[max(0, math.ceil(q * len(values)) - 1)]


def run_row(s, inject, prog, row, tries, load):
    times, server, slow = [], [], []
    for n in range(tries):
        ms, server_ms, stolen = one_try(s, inject, prog, row, n, load)
        times.append(ms if ms is not None else float('inf'))
        slow += [[round(ms, 1) if ms is not None else -1, stolen]] if times[-1] > TARGET_MS else []
        server += [server_ms] if server_ms is not None else []
        s.children = [c for c in s.children if c.poll() is None]
    r = dict(program='tovix' + prog, presenter=row, load='full' if load else 'idle', tries=tries,
             failed=times.count(float('inf')), median=percentile(times, 0.5), p99=percentile(times, 0.99),
             worst=max(times), over=len(slow), slow=slow)
    if server:
        r.update(server_median=percentile(server, 0.5), server_worst=max(server))
    r = {k: round(v, 1) if isinstance(v, float) else v for k, v in r.items()}
    return dict(r, times=[round(t, 2) if t != float('inf') else -1 for t in times])


def show(r):
    server = ('%9.1f %9.1f' % (r['server_median'], r['server_worst'])) if 'server_median' in r else '%9s %9s' % ('', '')
    return ('%-11s %-7s %-5s %6d %8.1f %8.1f %8.1f %7d%s' % (
        r['program'], r['presenter'], r['load'], r['tries'], r['median'], r['p99'], r['worst'], r['over'], server) +
        ('  did not end: %d' % r['failed'] if r['failed'] else '') +
        # Each slow try, with what the hypervisor took from the machine meanwhile.
        ''.join('  %s (host %d ms)' % ('%.1f ms' % ms if ms >= 0 else 'no end', stolen) for ms, stolen in r['slow'])).rstrip()


HEADER = '%-11s %-7s %-5s %6s %8s %8s %8s %7s %9s %9s' % ('exit ms', 'on', 'load', 'tries', 'median', 'p99', 'worst',
                                                           '>%d ms' % TARGET_MS, 'server', 'srv worst')


def session(row, work):
    """The display server of a row with its injector, connected once for the row's every try and the pointer amid
    the screen. A display server's delays are not the program's: it runs ahead of the load."""
    if row == 'wayland':
        s = wayland.Sway(work + '/sway', [('HEADLESS-1', *SIZE[:2], 0, 0, 1)])
        s.inject = Injector([os.environ['TOVIX_POINTER'], '-t'], s.client_env())
        s.inject.ask('to %d %d %d %d' % (SIZE[0] // 2, SIZE[1] // 2, *SIZE[:2]))
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
    # A presenter's row takes its display server's session, with an injector of its own, from session().
    a.add_argument('--rows', default='x11,daemon,wayland')
    a.add_argument('--programs', default='tiles,quads')
    a.add_argument('work')
    opts = a.parse_args()
    os.makedirs(opts.work, exist_ok=True)
    sessions, results = {}, []
    try:
        print(HEADER, flush=True)
        for row in opts.rows.split(','):
            kind = 'wayland' if row == 'wayland' else 'x11'
            s = sessions[kind] = sessions.get(kind) or session(row, opts.work)
            for prog in opts.programs.split(','):
                for load, tries in ((False, opts.idle_tries), (True, opts.tries)):
                    if tries > 0:
                        results.append(run_row(s, s.inject, prog, row, tries, load))
                        print(show(results[-1]), flush=True)
    finally:
        for s in sessions.values():
            s.inject.close()
            s.close()
        with open(os.path.join(opts.work, 'rows.json'), 'w') as f:
            for r in results:
                f.write(json.dumps(r, separators=(',', ':')) + '\n')

if __name__ == '__main__':
    main()
