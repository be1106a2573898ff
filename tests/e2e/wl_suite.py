"""The programs end to end on Wayland compositors of our own, headless: natively on sway (two outputs, one of
them at scale 2 in a second session, one hot-added) and weston (xdg-shell), and through sway's Xwayland with
DISPLAY alone; the first failure ends the run.
   python3 wl_suite.py sway|weston WORK_DIR"""
import subprocess, sys, time
sys.dont_write_bytecode = True  # no cache files in the source tree
import e2e, wayland
from suite import SETPRIV, check, ends, fits, goes_on, said

AT = (100, 360)  # where the pointer is when a program starts, on the primary


def point(s, x, y):
    """The pointer to (x, y) of sway's layout of the outputs it started with."""
    s.move('to', x, y, max(o[3] + o[1] // o[5] for o in s.outputs), max(o[4] + o[2] // o[5] for o in s.outputs))


def run(s, prog, kind, x11=False, quiet=False, wrapper=(), limit=1):
    """One start of prog, natively or through Xwayland: its picture (through Xwayland still there after 3 s
    without input), quiet moves of 2 pixels and a bare Shift that must not end it, and the end by kind of input
    within limit seconds, while every core is busy unless it is a key, which wtype types after a pause of its own."""
    point(s, *AT)
    p = s.launch(prog, wrapper, **{'WAYLAND_DISPLAY': None} if x11 else {})
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
    ends(s, p, kind, limit if kind != 'key' else 3, end, [] if kind == 'key' else None)
    return p


def hot_plug(s):
    """tovixquads covers an output added while it runs within a second."""
    p = s.launch('quads')
    fits(s, p)
    s.run('swaymsg', '-q', 'output HEADLESS-3 mode 640x480 position 2080 0')
    start = time.monotonic()
    s.run('swaymsg', '-q', 'create_output')
    shot = lambda: subprocess.run(['grim', '-t', 'ppm', '-o', 'HEADLESS-3', '-'], env=s.client_env(),
                                  capture_output=True).stdout
    ground = bytes([63] * 3 * 64)  # sway's own, where nothing covers an output
    covered = e2e.poll(lambda: (b := shot()) and ground not in b, 3, 0.01)
    print('native quads: an output added is covered %d ms after sway made it' % ((time.monotonic() - start) * 1000))
    check(covered and time.monotonic() - start < 1, 'the added output is not covered within a second')
    check(p.poll() is None, 'quads ended when an output was added:\n' + said(p))
    return p


def sway(work):
    s = wayland.Sway(work + '/two')
    try:
        run(s, 'tiles', 'click', quiet=True)
        run(s, 'tiles', 'move', x11=True, quiet=True)
        run(s, 'quads', 'key', x11=True)
        # Without the right to raise its priority, as most users run it: its picture moves on, and it ends.
        run(s, 'quads', 'click', quiet=True, wrapper=SETPRIV, limit=10)
        ends(s, hot_plug(s), 'key', 3, lambda: s.type('a'), [])
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
        p = s.launch('tiles')
        fits(s, p)
        s.x.kill()
        check(e2e.poll(lambda: p.poll() is not None, 4) and p.returncode == 0, 'tiles: exit %s' % p.returncode)
        check(said(p).count('\n') == 1, 'tiles said: ' + said(p))
    finally:
        s.close()


if __name__ == '__main__':
    {'sway': sway, 'weston': weston}[sys.argv[1]](sys.argv[2])
    print('%s: passed' % sys.argv[1])
