#!/usr/bin/env python3
"""Runs a real program on an X server of its own and measures it from the outside only: how many tiles or frames
per second reach the screen (the program stopped twice, some seconds of drawing apart, and the screen read by the
judge against the fixed random sequence) and its memory. A key ends it (bench/latency.py times that, and how long
its start takes to cover the screen; bench/politeness.py measures what a busy job keeps beside it).
Prints one JSON line; exit 1 when nothing was counted.
   screen_rate.py native|wine|wayland PROGRAM LAYOUT SECONDS WORK_DIR
PROGRAM is the native program or the .exe; LAYOUT is WIDTHxHEIGHT (Xvfb) or two (Xorg's dummy driver); wayland
runs the native program on a headless sway of the same output sizes instead. Needs TOVIX_JUDGE; for Wine
TOVIX_WINE64, TOVIX_WINESERVER and TOVIX_WINEPREFIX (a ready prefix); for Wayland TOVIX_POINTER."""
import json, os, signal, sys, time
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'e2e'))
sys.dont_write_bytecode = True  # no cache files in the source tree
import e2e

# The optimised build draws far faster than the sanitised one the suite runs; these bound the judge's scan.
e2e.RATES['native'] = {'tiles': 8e6, 'quads': 8e4}


def memory(pid):
    """Peak resident memory, private (anonymous) memory now, in KiB, and whether any of Mesa is mapped."""
    status = dict(line.split(':', 1) for line in e2e.proc(pid, 'status').splitlines() if ':' in line)
    kib = lambda field: int(status.get(field, '-1 kB').split()[0])
    mesa = any(lib in e2e.proc(pid, 'maps') for lib in ('libLLVM', 'swrast_dri', 'libgallium', 'llvmpipe'))
    return dict(peak_rss_kib=kib('VmHWM'), private_kib=kib('RssAnon'), mesa=int(mesa))


def main():
    if len(sys.argv) != 6 or sys.argv[1] not in ('native', 'wine', 'wayland'):
        sys.exit(__doc__)
    runner, path, layout, seconds, work = sys.argv[1:6]
    prog = 'tiles' if 'tiles' in os.path.basename(path) else 'quads'
    os.environ['TOVIX_%s%s' % (prog.upper(), '_EXE' if runner == 'wine' else '')] = os.path.abspath(path)
    w, _, h = layout.partition('x')
    monitors = e2e.LAYOUTS['two'] if layout == 'two' else [(int(w), int(h), 0, 0)]
    if runner == 'wayland':  # the same sizes, the second output right of the primary
        import wayland
        sizes = [m[:2] for m in monitors]
        outputs = [('HEADLESS-%d' % (i + 1), mw, mh, sum(z[0] for z in sizes[:i]), 0, 1)
                   for i, (mw, mh) in enumerate(sizes)]
        s = wayland.Sway(work, outputs)
        monitors = s.monitors
    else:
        s = e2e.Session(runner, monitors, work, pin=False)
    result = dict(program='tovix' + prog, runner=runner, layout=layout, unit=prog if prog == 'tiles' else 'frames')
    try:
        if runner == 'wayland':
            s.move('to', monitors[0][0] // 2, monitors[0][1] // 2, sum(m[0] for m in monitors),
                   max(m[1] for m in monitors))
        else:
            s.run('xdotool', 'mousemove', monitors[0][2] + monitors[0][0] // 2, monitors[0][3] + monitors[0][1] // 2)
        p = s.launch(prog)
        ok, _, said = s.judge(p, 60)
        if not ok:
            sys.exit('%s never showed what it must: %s' % (prog, said))
        # Past start-up, the program stopped twice, some seconds of drawing apart, and its screen read each time
        # (while it stands still, so that the judge's own work takes nothing from it): how far it got in between.
        counts = []
        for pause in (1, float(seconds)):
            since = time.monotonic()
            time.sleep(pause)
            os.kill(p.pid, signal.SIGSTOP)
            ran = time.monotonic() - since
            ok, shown, said = s.judge(p, 2)
            counts.append((sum(shown) if prog == 'tiles' else max(shown, default=0)) if ok else 0)
            os.kill(p.pid, signal.SIGCONT)
        first, second = counts
        result.update(first=first, second=second, interval=round(ran, 3),
                      rate=round((second - first) / ran, 1) if first and second >= first else -1,
                      **memory(p.pid))
        # On Wayland a click of the suite's virtual pointer: wtype would pause first.
        end = (lambda: s.move('click')) if runner == 'wayland' else lambda: s.run('xdotool', 'key', 'a')
        code, _ = s.end_under_load(p, end, 10, [])
        result.update(exit='exit code %s' % code if code is not None else 'still running after 10 s')
    finally:
        s.close()
        print(json.dumps(result, separators=(',', ':')))
    sys.exit(0 if result.get('rate', -1) > 0 else 1)


if __name__ == '__main__':
    main()
