"""The native programs as screen savers: the real xscreensaver and xsecurelock run them, as unpacked from the .deb,
in windows of their own; and in a window of ours, which going away ends them, as SIGTERM does at once.
   python3 daemons.py DEB WORK_DIR"""
import ctypes, os, signal, subprocess, sys, time, types
sys.dont_write_bytecode = True  # no cache files in the source tree
import e2e
from suite import check, fits, said

ctypes.CDLL(None).prctl(36, 1)  # PR_SET_CHILD_SUBREAPER: a saver whose daemon dies without waiting for it is ours


def ended(pid, timeout):
    """The exit code of a descendant once it has ended and come to us; None if it still runs after timeout."""
    def reaped():
        try:
            done, status = os.waitpid(pid, os.WNOHANG)
            return done == pid and (os.waitstatus_to_exitcode(status),)
        except ChildProcessError:  # still the daemon's
            return False
    code = e2e.poll(reaped, timeout)
    return code[0] if code else None


def started_by_daemon(s, prog, exe, log):
    pids = e2e.poll(lambda: e2e.processes(lambda p: e2e.proc(p, 'cmdline').startswith(exe + '\0')), 20)
    check(pids, 'no %s started in %s' % (prog, log))
    began = int(e2e.proc(pids[0], 'stat').rpartition(') ')[2].split()[19]) / os.sysconf('SC_CLK_TCK')
    return types.SimpleNamespace(pid=pids[0], prog=prog, log=log, count=0, when=min(began, time.monotonic()))


def xscreensaver(s, exe):
    """Run as an ordinary user, since it runs no saver as root; activated, it runs tovixtiles in its window."""
    home = s.work + '/home'
    os.makedirs(home, exist_ok=True)
    with open(home + '/.xscreensaver', 'w') as f:
        f.write('mode: one\nselected: 0\nlock: False\nfade: False\nunfade: False\nsplash: False\n'
                'dpmsEnabled: False\nprograms: %s --root\n' % exe)
    subprocess.run(['chown', '-R', 'nobody', home], check=True)
    user = ['setpriv', '--reuid=nobody', '--regid=nogroup', '--clear-groups', 'env', 'HOME=' + home]
    with open(s.work + '/xscreensaver.log', 'w') as log:
        s.children.append(e2e.spawn(s.pin + user + ['xscreensaver', '-no-splash', '-verbose'], stdout=log, stderr=log,
                                    env=dict(os.environ, DISPLAY=s.display)))
    command = lambda what: subprocess.run(user + ['xscreensaver-command', what], capture_output=True,
                                          env=dict(os.environ, DISPLAY=s.display)).returncode == 0
    check(e2e.poll(lambda: command('-time'), 20), 'xscreensaver did not come up; see %s' % log.name)
    check(command('-activate'), 'xscreensaver would not activate')
    p = started_by_daemon(s, 'tiles', exe, log.name)
    fits(s, p)
    command('-deactivate')
    code = ended(p.pid, 5)
    check(code == 0, 'tovixtiles ended with %s once xscreensaver was deactivated; see %s' % (code, log.name))


def xsecurelock(s, exe):
    """Locking the screen, it runs tovixquads in its saver's window; ending, it ends the saver."""
    with open(s.work + '/xsecurelock.log', 'w') as log:
        lock = e2e.spawn(s.pin + ['xsecurelock'], stdout=log, stderr=log, env=dict(
            os.environ, DISPLAY=s.display, XSECURELOCK_SAVER=exe, XSECURELOCK_NO_COMPOSITE='1'))
    s.children.append(lock)
    p = started_by_daemon(s, 'quads', exe, log.name)
    fits(s, p)
    lock.terminate()
    code = ended(p.pid, 5)
    check(code == 0, 'tovixquads ended with %s once xsecurelock did; see %s' % (code, log.name))


class Window:
    """A window of ours on the whole screen, as a daemon makes one."""

    def __init__(self, s):
        self.x = x = ctypes.CDLL('libX11.so.6')
        x.XOpenDisplay.restype = ctypes.c_void_p
        x.XCreateSimpleWindow.restype = x.XDefaultRootWindow.restype = ctypes.c_ulong
        self.display = d = ctypes.c_void_p(x.XOpenDisplay(s.display.encode()))  # 64 bits, as XIDs below
        w, h = s.monitors[0][:2]
        self.id = x.XCreateSimpleWindow(d, ctypes.c_ulong(x.XDefaultRootWindow(d)), 0, 0, w, h, 0, ctypes.c_ulong(0),
                                        ctypes.c_ulong(0))
        x.XMapWindow(d, ctypes.c_ulong(self.id))
        x.XSync(d, 0)

    def destroy(self):
        self.x.XDestroyWindow(self.display, ctypes.c_ulong(self.id))
        self.x.XSync(self.display, 0)


def our_window(s, exe):
    """-window-id names the window in decimal, XSCREENSAVER_WINDOW in hexadecimal; the window going away ends the
    program with 0 and one line, SIGTERM ends it with 0 even with every core busy, a bad window at once."""
    w = Window(s)
    p = s.launch('tiles', exe=exe, args=['-window-id', str(w.id)])
    fits(s, p)
    w.destroy()
    check(e2e.poll(lambda: p.poll() is not None, 5) and p.returncode == 0, 'exit %s' % p.returncode)
    check(said(p).endswith('the window went away\n'), 'tovixtiles said: ' + said(p))
    w = Window(s)
    p = s.launch('quads', exe=exe.replace('tiles', 'quads'), XSCREENSAVER_WINDOW=hex(w.id))
    fits(s, p)
    code, took = s.end_under_load(p, lambda: os.kill(p.pid, signal.SIGTERM), 1)
    print('tovixquads in a daemon\'s window: %d ms from SIGTERM to the end, every core busy' % (took * 1000))
    check(code == 0, 'tovixquads did not end with 0 within 1 s of SIGTERM: %s' % code)
    p = s.launch('tiles', exe=exe, args=['--root', '--window-id', '0x1fffffff'])
    check(e2e.poll(lambda: p.poll() is not None, 5) and p.returncode == 0, 'exit %s' % p.returncode)
    check('does not exist' in said(p), 'tovixtiles said: ' + said(p))


def main():
    deb, work = sys.argv[1:3]
    e2e.RATES['native'] = {'tiles': 8e6, 'quads': 8e4}  # the packaged programs are optimised
    s = e2e.Session('native', e2e.LAYOUTS['one'], work)
    try:
        subprocess.run(['dpkg-deb', '-x', deb, work + '/unpacked'], check=True)
        hacks = work + '/unpacked/usr/libexec/xscreensaver/'
        xscreensaver(s, hacks + 'tovixtiles')
        xsecurelock(s, hacks + 'tovixquads')
        our_window(s, hacks + 'tovixtiles')
    finally:
        s.close()
    print('daemons: passed')


if __name__ == '__main__':
    main()
