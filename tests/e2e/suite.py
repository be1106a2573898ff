"""The programs end to end on an X server of their own, natively or their .exe files under Wine; the first
failure ends the run, since each step builds on the one before.
   python3 suite.py native|wine one|two WORK_DIR"""
import glob, os, re, subprocess, sys, time
sys.dont_write_bytecode = True  # no cache files in the source tree
import e2e

# Calls that change a file or take connections; failed attempts count too.
CHANGES = re.compile(r'(mkdir|rmdir|rename|unlink|link|symlink|truncate|mknod|f?chmod|f?chown|lchown|utimes?|'
                     r'utimensat|futimesat|l?setxattr|l?removexattr|bind|listen|accept)(at2?|4)?\(')


def check(ok, what):
    if not ok:
        raise AssertionError(what)


def said(p):
    with open(p.log) as f:
        return f.read()


def pointer(s, prog):
    """Where the pointer starts: tovixtiles on the primary, where it stays when xrandr moves that to the origin;
    tovixquads on the last monitor, away from the primary window, which must not pull it over."""
    m = s.monitors[0 if prog == 'tiles' else -1]
    return m[2] + 100, m[3] + m[1] // 2


def ending(s, prog, kind):
    """The input that ends a program: a button, the wheel, a typed character or a move of 3 pixels."""
    x, y = pointer(s, prog)
    return lambda: s.run('xdotool', *{'button': ['click', 1], 'wheel': ['click', 4], 'key': ['key', 'a'],
                                      'move': ['mousemove', x + 3, y]}[kind])


def fits(s, p, timeout=60, cursor=False):
    ok, _, judged = s.judge(p, timeout, cursor)
    check(ok, '%s does not show what it must:\n%s%s' % (p.prog, judged, said(p)))
    return judged


def goes_on(s, p, what):
    """p has handled what came before: its picture moved on twice since, fitting each time, and it still runs."""
    seen = []

    def moved_on():
        ok, counts, judged = s.judge(p)
        check(ok and p.poll() is None, '%s after %s (exit %s):\n%s%s' % (p.prog, what, p.poll(), judged, said(p)))
        seen.extend([counts] if not seen or sum(counts) > sum(seen[-1]) else [])
        return len(seen) == 3
    check(e2e.poll(moved_on, 20), '%s stands still after %s' % (p.prog, what))


def ends(s, p, kind, limit, end=None, jobs=None):
    """p ends with 0 within limit seconds of kind of input (end, or xdotool's), while jobs run (every core busy)."""
    code, took = s.end_under_load(p, end or ending(s, p.prog, kind), limit, jobs)
    print('%s %s: %d ms from the %s to the end%s' % (s.runner, p.prog, took * 1000, kind,
                                                     ', every core busy' * (jobs is None)))
    check(code == 0, '%s did not end with 0 within %d s of the %s: %s\n%s' % (p.prog, limit, kind, code, said(p)))
    left = s.left_behind(p)
    check(not left, '%s left processes behind: %s' % (p.prog, left))


def steps_aside(s, p):
    """While a CPU-bound job fills every core, in another session than p's, p draws two turns a second at most (a
    tile on each monitor, or a frame), where it draws thousands alone; then it draws on."""
    with e2e.busy_jobs():
        time.sleep(0.2)  # what was under way when the job started
        fit, before, _ = s.judge(p)
        time.sleep(2)
        still, after, judged = s.judge(p)
    drawn = [a - b for a, b in zip(after, before)]
    check(fit and still and len(drawn) == len(before) and max(drawn) <= 6,
          '%s drew beside a job on every core: %s, then %s\n%s' % (p.prog, before, after, judged))
    goes_on(s, p, "the job's end")


def one_run(s, prog, kind, user=False):
    """One start of prog: its picture, inputs that must not end it (a monitor off and on), idle priority (as root,
    SCHED_IDLE again after the input's lift; as the suite's user, nothing drawn beside a busy job), the end."""
    native, (x, y) = s.runner == 'native', pointer(s, prog)
    s.run('xdotool', 'mousemove', x, y)
    p = s.launch(prog, user=user)
    check('cursor hidden' in fits(s, p, cursor=True), 'the pointer shows over ' + prog)
    # Wherever the program takes its origin among these, every other lies within 2 pixels of it on each axis.
    for dx, dy in ((-2, 0), (0, 2), (-2, 2)):
        s.run('xdotool', 'mousemove', x + dx, y + dy)
    s.run('xdotool', 'key', 'Shift_L')
    goes_on(s, p, 'moves of 2 pixels and a bare Shift')
    if native and len(s.monitors) > 1 and prog == 'tiles':  # DUMMY0, the left one, off and on; the root keeps its size
        s.run('xrandr', '--fb', '%dx%d' % tuple(max(m[i] + m[i + 2] for m in s.monitors) for i in (0, 1)), '--output',
              'DUMMY0', '--off')
        goes_on(s, p, 'a monitor turned off')
        s.run('xrandr', '--output', 'DUMMY0', '--mode', '%dx%d' % s.monitors[1][:2], '--pos', '0x0', '--output',
              'DUMMY1', '--pos', '%dx%d' % s.monitors[0][2:])
        goes_on(s, p, 'the monitor turned on again')
    if native and not user:
        policy = lambda: e2e.proc(p.pid, 'stat').rpartition(') ')[2].split()[38]  # field 41: 5 is SCHED_IDLE
        check(e2e.poll(lambda: policy() == '5', 2), '%s not back at SCHED_IDLE: policy %s' % (prog, policy()))
    if user and s.monitors == e2e.LAYOUTS['one']:
        steps_aside(s, p)
    ends(s, p, kind, 3 if user else 1)  # a fair share for the user's end, on the sanitised build


def trace_violations(logs, display):
    """Calls in strace logs that change a file, open one for writing (bar /dev/null), take connections, or
    reach anything but the X server's socket."""
    x = re.compile(r'sun_path=@?"/tmp/\.X11-unix/X%s"' % display[1:])
    calls = [call.strip() for name in logs for call in open(name)]
    bad = [c for c in calls if CHANGES.match(c) or
           (re.match(r'(open|openat2?)\(.*(O_WRONLY|O_RDWR|O_CREAT|O_TRUNC)|creat\(', c) and '"/dev/null"' not in c) or
           (re.match(r'(connect|sendto|sendmsg)\(', c) and 'sa_family=' in c and not x.search(c))]
    return bad + ([] if any(c.startswith('connect(') and x.search(c) for c in calls) else ['no connection to X traced'])


def native_only(s, prog):
    """Traced, it writes nothing and reaches nothing but its X server, which going away ends it with 0 and one line
    (command_line.py: no display at all)."""
    g = e2e.Session('native', [(640, 480, 0, 0)], '%s/gone-%s' % (s.work, prog))
    try:
        p = g.launch(prog, ['strace', '-ff', '-qq', '--seccomp-bpf', '-o', g.work + '/trace', '-e',
                            'trace=%file,%network'])
        fits(g, p)
        g.x.terminate()
        check(e2e.poll(lambda: p.poll() is not None, 4) and p.returncode == 0, '%s: exit %s' % (prog, p.returncode))
        check(re.fullmatch(r'[^\n]*the display went away\n', said(p)), prog + ' said: ' + said(p))
        bad = trace_violations(glob.glob(g.work + '/trace.*'), g.display)
        check(not bad, '%s, traced:\n%s' % (prog, '\n'.join(bad)))
    finally:
        g.close()


def screen_savers(s):
    """The .scr files under Wine: settings_host.cpp plays the settings dialog with each (its previews, bad handles,
    the settings on a bare start and on /c); /s runs as the .exe does."""
    scr = lambda prog: s.exe(prog)[:-len('.exe')] + '.scr'
    with open(s.work + '/settings.log', 'w') as out:  # a file: Wine's services would hold a pipe open
        r = subprocess.run([os.environ['TOVIX_WINE64'], os.environ['TOVIX_SETTINGS_HOST']] +
                           ['Z:' + scr(prog).replace('/', '\\') for prog in ('tiles', 'quads')],
                           env=e2e.wine_env(DISPLAY=s.display), stdout=out, stderr=subprocess.STDOUT, timeout=240)
    print(open(out.name).read(), end='')
    check(r.returncode == 0, 'the settings host saw %d faults' % r.returncode)
    p = s.launch('quads', exe=scr('quads'), args=['/s'])
    fits(s, p)
    ends(s, p, 'key', 1)


def main():
    runner, layout, work = sys.argv[1:4]
    # Natively on two monitors, the presenter's other path: without shared memory the pixels go in the requests.
    s = e2e.Session(runner, e2e.LAYOUTS[layout], work, shm=not (runner == 'native' and layout == 'two'))
    try:
        # Across the layouts each runner ends the programs with a button, the wheel, a key and a move; natively
        # also as a desktop's user runs them, with a key on two monitors and a click on one.
        kinds = {'one': ['button', 'wheel'], 'two': ['key', 'key' if runner == 'native' else 'move']}[layout]
        for prog, kind in zip(['tiles', 'quads'], kinds):
            one_run(s, prog, kind, user=runner == 'native' and layout == 'two')
        if layout == 'one' and runner == 'native':
            for prog in ('tiles', 'quads'):
                one_run(s, prog, 'button', user=True)
                native_only(s, prog)
        if layout == 'one' and runner == 'wine':
            screen_savers(s)
    finally:
        s.close()
    print('%s %s: passed' % (runner, layout))


if __name__ == '__main__':
    main()
