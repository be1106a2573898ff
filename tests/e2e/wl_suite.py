"""The programs end to end on Wayland compositors of our own, headless: natively on sway (two outputs, one of
them at scale 2 in a second session, one hot-added) and weston (xdg-shell), and through sway's Xwayland with
DISPLAY alone; the first failure ends the run.
   python3 wl_suite.py sway|weston WORK_DIR"""
import subprocess, sys, time
sys.dont_write_bytecode = True  # no cache files in the source tree
import e2e, wayland
from suite import check, ends, fits, goes_on, said

AT = (100, 360)  # where the pointer is when a program starts, on the primary


def point(s, x, y):
    """The pointer to (x, y) of sway's layout of the outputs it started with."""
    s.move('to', x, y, max(o[3] + o[1] // o[5] for o in s.outputs), max(o[4] + o[2] // o[5] for o in s.outputs))


def run(s, prog, kind, x11=False, quiet=False):
    """One start of prog as a desktop's user runs it, natively or through Xwayland: its picture (through Xwayland
    still there after 3 s without input), quiet moves of 2 pixels and a bare Shift that must not end it, and the
    end by kind of input within a second, while every core is busy unless it is a key, which wtype types after a
    pause of its own."""
    point(s, *AT)
    p = s.launch(prog, user=True, **{'WAYLAND_DISPLAY': None} if x11 else {})
    if x11:  # sway hands an override-redirect window the pointer, which hides it there, at the next move
        print('through Xwayland, with DISPLAY alone:')
        time.sleep(3)
        check(p.poll() is None, '%s ended through Xwayland without input:\n%s' % (prog, said(p)))
        point(s, AT[0] - 2, AT[1])
    fits(s, p)
    if quiet:
        for dx, dy in ((-2, 0), (0, 2), (-2, 2)):
            point(s, AT[0] + dx, AT[1] + dy)
        s.type('-M', 'shift', '-m', 'shift')
        goes_on(s, p, 'moves of 2 pixels and a bare Shift')
    end = {'click': lambda: s.move('click'), 'wheel': lambda: s.move('wheel', 1), 'key': lambda: s.type('a'),
           'move': lambda: s.move('move', 3, 0)}[kind]
    ends(s, p, kind, 1 if kind != 'key' else 3, end, [] if kind == 'key' else None)
    return p


def covered(s, name):
    """Whether the output shows no more of sway's own ground, which shows where nothing covers it."""
    shot = subprocess.run(['grim', '-t', 'ppm', '-o', name, '-'], env=s.client_env(), capture_output=True).stdout
    return bool(shot) and bytes([63] * 3 * 64) not in shot


def cover_first(s):
    """Started while every core is busy, tovixquads covers every output at once, and a key typed then ends it,
    still in its start-up; an output added later is covered within a second."""
    busy = e2e.busy_jobs()
    try:
        p = s.launch('quads', user=True)
        check(e2e.poll(lambda: all(covered(s, o[0]) for o in s.outputs), 10, 0.01),
              'quads did not cover every output under load:\n' + said(p))
        print('native quads: every output covered %d ms after the start, every core busy' %
              ((time.monotonic() - p.when) * 1000))
        s.type('a')
        check(e2e.poll(lambda: p.poll() is not None, 10) and p.returncode == 0,
              'quads, covering, did not end on a key under load: %s\n%s' % (p.poll(), said(p)))
    finally:
        for b in busy:
            b.kill()
            b.wait()


def hot_plug(s):
    """tovixtiles covers an output added while it runs within a second."""
    p = s.launch('tiles', user=True)
    fits(s, p)
    s.run('swaymsg', '-q', 'output HEADLESS-3 mode 640x480 position 2080 0')
    start = time.monotonic()
    s.run('swaymsg', '-q', 'create_output')
    added = e2e.poll(lambda: covered(s, 'HEADLESS-3'), 3, 0.01)
    print('native tiles: an output added is covered %d ms after sway made it' % ((time.monotonic() - start) * 1000))
    check(added and time.monotonic() - start < 1, 'the added output is not covered within a second')
    check(p.poll() is None, 'tiles ended when an output was added:\n' + said(p))
    return p


def sway(work):
    s = wayland.Sway(work + '/two')
    try:
        run(s, 'tiles', 'click', quiet=True)
        run(s, 'tiles', 'move', x11=True, quiet=True)
        run(s, 'quads', 'key', x11=True)
        run(s, 'quads', 'click', quiet=True)
        cover_first(s)
        ends(s, hot_plug(s), 'key', 3, lambda: s.type('a'))
    finally:
        s.close()
    s = wayland.Sway(work + '/scaled', [wayland.TWO[0], ('HEADLESS-2', 1600, 1200, 1280, 0, 2)])
    try:
        run(s, 'tiles', 'wheel')
        run(s, 'quads', 'move')
    finally:
        s.close()


def weston(work):
    """The xdg-shell path: the picture, and the compositor killed mid-run ends the program with 0 and one line."""
    s = wayland.Weston(work)
    try:
        p = s.launch('tiles', user=True)
        fits(s, p)
        s.x.kill()
        check(e2e.poll(lambda: p.poll() is not None, 4) and p.returncode == 0, 'tiles: exit %s' % p.returncode)
        check(said(p).count('\n') == 1, 'tiles said: ' + said(p))
    finally:
        s.close()


if __name__ == '__main__':
    {'sway': sway, 'weston': weston}[sys.argv[1]](sys.argv[2])
    print('%s: passed' % sys.argv[1])
