"""The programs end to end on Wayland compositors of our own, headless: natively on sway (layer-shell; two
outputs, one of them at scale 2 in a second session, one hot-added and unplugged), mutter and gnome-shell
(xdg-shell) and KWin (layer-shell), and through sway's Xwayland with DISPLAY alone; the first failure ends the run.
   python3 wl_suite.py sway|gnome|kwin WORK_DIR"""
import re, subprocess, sys, time
sys.dont_write_bytecode = True  # no cache files in the source tree
import e2e, wayland
from suite import check, ends, fits, goes_on, said

AT = (100, 360)  # where the pointer is when a program starts, on the primary
QUIET = ((-1, 0), (-1, 0), (2, 2), (-2, 0), (2, -2))  # 1 and 2 pixels away along each axis and both, and back


def shown(s, p):
    """p covers the outputs: its picture fits; on mutter, which takes no screenshots, the pointer has entered a
    surface of p's (its WAYLAND_DEBUG log)."""
    entered = lambda: re.search(r'wl_pointer@\d+\.enter\(', said(p)) or p.poll() is not None
    check(fits(s, p) if s.shots else e2e.poll(entered, 20) and p.poll() is None,
          '%s: the pointer enters no surface of its own:\n%s' % (p.prog, said(p)[-2000:]))


def run(s, prog, kind, x11=False, quiet=False, at=AT):
    """One start of prog as a desktop's user runs it, natively or through Xwayland, with the pointer over the
    screen at `at`: its picture (through Xwayland still there after 3 s without input), quiet moves in the pixels
    of the output there and a bare Shift that must not end it, and the end by kind of input within 3 s while every
    core is busy (at a fair share, on the sanitised build), or by the compositor killed mid-run (gone), with 0 and one line."""
    k = [o[5] for o in s.outputs if o[3] <= at[0] < o[3] + o[1] // o[5] and o[4] <= at[1] < o[4] + o[2] // o[5]][0]
    s.point(*at)
    p = s.launch(prog, user=True, **{'WAYLAND_DISPLAY': None} if x11 else {},
                 **{} if s.shots else {'WAYLAND_DEBUG': 'client'})
    if x11:  # sway hands an override-redirect window the pointer, which hides it there, at the next move
        print('through Xwayland, with DISPLAY alone:')
        time.sleep(3)
        check(p.poll() is None, '%s ended through Xwayland without input:\n%s' % (prog, said(p)))
        s.move('move', -2, 0)
    shown(s, p)
    if quiet:
        time.sleep(0 if s.shots else 1)  # mutter still animates the surface's opening when the pointer enters
        for dx, dy in QUIET:
            s.move('move', dx / k, dy / k)
        s.key('shift')
        what = 'moves of 1 and 2 pixels and back, and a bare Shift'
        if s.shots:
            goes_on(s, p, what)
        else:  # p has read the moves and runs on
            check(e2e.poll(lambda: said(p).count('.motion(') >= len(QUIET), 5) and
                  not e2e.poll(lambda: p.poll() is not None, 1), '%s after %s:\n%s' % (prog, what, said(p)[-2000:]))
    if kind == 'gone':
        s.kill()
        check(e2e.poll(lambda: p.poll() is not None, 4) and p.returncode == 0, '%s: exit %s' % (prog, p.returncode))
        check(said(p).count('\n') == 1, '%s said: %s' % (prog, said(p)))
        return p
    end = {'click': lambda: s.move('click'), 'wheel': lambda: s.move('wheel', 1), 'key': lambda: s.key('a'),
           'move': lambda: s.move('move', 3 / k, 0), 'close request': lambda: s.key('alt', 'f4')}[kind]
    ends(s, p, kind, 3, end)
    return p


def covered(s, name):
    """Whether the output shows no more of sway's own ground, which shows where nothing covers it."""
    shot = subprocess.run(['grim', '-t', 'ppm', '-o', name, '-'], env=s.client_env(), capture_output=True).stdout
    return bool(shot) and bytes([63] * 3 * 64) not in shot


def cover_first(s):
    """Started while every core is busy, tovixquads covers every output at once, and a key typed then ends it,
    still in its start-up."""
    with e2e.busy_jobs():
        p = s.launch('quads', user=True)
        check(e2e.poll(lambda: all(covered(s, o[0]) for o in s.outputs), 10, 0.01),
              'quads did not cover every output under load:\n' + said(p))
        print('native quads: every output covered %d ms after the start, every core busy' %
              ((time.monotonic() - p.when) * 1000))
        s.key('a')
        check(e2e.poll(lambda: p.poll() is not None, 10) and p.returncode == 0,
              'quads, covering, did not end on a key under load: %s\n%s' % (p.poll(), said(p)))


def hot_plug(s):
    """tovixquads covers an output added while it runs within a second, and goes on when it is unplugged."""
    p = s.launch('quads', user=True)
    fits(s, p)
    s.run('swaymsg', '-q', 'output HEADLESS-3 mode 640x480 position 2080 0')
    start = time.monotonic()
    s.run('swaymsg', '-q', 'create_output')
    added = e2e.poll(lambda: covered(s, 'HEADLESS-3'), 3, 0.01)
    print('native quads: an output added is covered %d ms after sway made it' % ((time.monotonic() - start) * 1000))
    check(added and time.monotonic() - start < 1, 'the added output is not covered within a second')
    check(p.poll() is None, 'quads ended when an output was added:\n' + said(p))
    s.run('swaymsg', '-q', 'output HEADLESS-3 disable')  # its wl_output goes, as when unplugged
    goes_on(s, p, 'an output unplugged')
    return p


def sway(work):
    s = wayland.Sway(work + '/two')
    try:
        run(s, 'tiles', 'click', quiet=True)
        run(s, 'tiles', 'move', x11=True, quiet=True)
        run(s, 'quads', 'key', x11=True)
        run(s, 'quads', 'click', quiet=True)
        cover_first(s)
        ends(s, hot_plug(s), 'key', 3, lambda: s.key('a'))
    finally:
        s.close()
    s = wayland.Sway(work + '/scaled', [wayland.TWO[0], ('HEADLESS-2', 1600, 1200, 1280, 0, 2)])
    try:
        run(s, 'tiles', 'wheel')
        run(s, 'quads', 'move', quiet=True, at=(1380, 300))  # moves of half a logical pixel
    finally:
        s.close()


def gnome(work):
    """On mutter, the pointer entering a surface that is still opening and moves of 1 and 2 pixels that must not end
    the programs, and the compositor asking a fullscreen toplevel to close (Alt+F4); on gnome-shell, the pictures."""
    s = wayland.Gnome(work + '/mutter')
    try:
        for prog in ('tiles', 'quads'):
            run(s, prog, 'move', quiet=True)
        run(s, 'tiles', 'close request')
    finally:
        s.close()
    try:
        s = wayland.Gnome(work + '/shell', shell=True)
    except RuntimeError as e:  # now and then it deadlocks at start, in a child it forked and never ran
        print('gnome-shell did not come up (%s); once more' % e)
        s = wayland.Gnome(work + '/shell', shell=True)
    try:
        run(s, 'tiles', 'click', quiet=True)
        run(s, 'quads', 'key')
        run(s, 'tiles', 'gone')
    finally:
        s.close()


def kwin(work):
    s = wayland.Kwin(work)
    try:
        run(s, 'tiles', 'wheel', quiet=True)
        run(s, 'quads', 'gone')
    finally:
        s.close()


if __name__ == '__main__':
    {'sway': sway, 'gnome': gnome, 'kwin': kwin}[sys.argv[1]](sys.argv[2])
    print('%s: passed' % sys.argv[1])
