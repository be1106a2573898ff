"""X servers of our own, the programs on them (native, or the .exe files under Wine), the judge, input by
xdotool and a CPU-bound job on every core. What this starts dies with it, even when it is killed outright.
Paths come from the environment: TOVIX_JUDGE, TOVIX_TILES, TOVIX_QUADS; for Wine TOVIX_WINE64,
TOVIX_WINESERVER, TOVIX_WINEPREFIX, TOVIX_TILES_EXE, TOVIX_QUADS_EXE.
   python3 e2e.py prefix|kill    makes a new Wine prefix, or ends every process of it"""
import atexit, contextlib, ctypes, glob, os, pwd, re, shutil, signal, subprocess, sys, tempfile, time

# Monitors (W, H, X, Y on the root) in Windows' enumeration order, primary first.
LAYOUTS = {'one': [(1024, 768, 0, 0)], 'two': [(1024, 768, 800, 0), (800, 600, 0, 0)]}
# Layers per second, far above what the sanitised native build and Wine draw here: they bound the judge's scan.
RATES = {'native': {'tiles': 1e6, 'quads': 3e4}, 'wine': {'tiles': 1e5, 'quads': 5e3}}
_libc = ctypes.CDLL(None)


def wine_env(**more):
    return dict(os.environ, WINEPREFIX=os.environ['TOVIX_WINEPREFIX'], WINESERVER=os.environ['TOVIX_WINESERVER'],
                WINEDEBUG='-all', WINEARCH='win64',
                # No Mono or Gecko installer dialogs, no menu entries written into HOME.
                WINEDLLOVERRIDES='mscoree,mshtml=;winemenubuilder.exe=d', **more)


USER = 'tovix-test'


def account():
    """Whom compositors and the programs of a desktop's user run as: the suite's own user, made here when we are
    root, else ourselves."""
    if os.getuid() != 0:
        return os.getuid(), os.getgid()
    try:
        pw = pwd.getpwnam(USER)
    except KeyError:  # another suite may make it at the same moment
        subprocess.run(['useradd', '--system', '--no-create-home', '--shell', '/usr/sbin/nologin', USER])
        pw = pwd.getpwnam(USER)
    return pw.pw_uid, pw.pw_gid


def become(uid, gid):
    """What setpriv would do, in a child before PR_SET_PDEATHSIG, which a change of user clears: the user with
    no groups, no capabilities and the limits we have (a desktop's defaults: no nice or real-time rights)."""
    def switch():
        if os.getuid() == 0:
            os.setgroups([])
            os.setgid(gid)
            os.setuid(uid)
    return switch


def short_dir(prefix):
    """A new folder under /tmp, removed when this process ends: a socket's path there stays far below the 108
    bytes a Unix socket allows, wherever the clone lives."""
    path = tempfile.mkdtemp(prefix='tovix-%s-' % prefix, dir='/tmp')
    atexit.register(shutil.rmtree, path, True)
    return path


_reachable = {}


def reachable(path):
    """path where another user may run it, else a copy of it in a folder anyone may enter."""
    parts = os.path.abspath(path).split('/')
    if all(os.stat('/'.join(parts[:i]) or '/').st_mode & 0o001 for i in range(1, len(parts))):
        return path
    if path not in _reachable:
        folder = short_dir('bin')
        os.chmod(folder, 0o755)
        _reachable[path] = shutil.copy(path, folder)
    return _reachable[path]


def spawn(argv, before=lambda: None, session=False, **kw):
    """A child in a process group of its own (with session, in a session of its own, as a desktop's daemons start
    programs) that gets SIGTERM when this process dies, once before() has run in it. The kernel shares the
    processor between sessions before it looks at their threads' priorities."""
    return subprocess.Popen(argv, process_group=None if session else 0, start_new_session=session,
                            preexec_fn=lambda: (before(), _libc.prctl(1, signal.SIGTERM)), **kw)


@contextlib.contextmanager
def busy_jobs(jobs=None):
    """While it lasts, CPU-bound processes at normal priority in this session, by default one on every core, once
    each has had some processor time, as a user's build would be."""
    busy = [spawn(job) for job in ([[sys.executable, '-c', 'while True: pass']] * os.cpu_count()
                                   if jobs is None else jobs)]
    try:
        poll(lambda: all(sum(map(int, proc(b.pid, 'stat').rpartition(') ')[2].split()[11:13])) > 5 for b in busy), 5)
        yield
    finally:
        for b in busy:
            b.kill()
            b.wait()


def fresh(work):
    """An empty work directory, without logs, traces or captures of an earlier run, and clean-up on signals."""
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):  # cleans up on the way out
        signal.signal(sig, lambda *_: sys.exit('interrupted'))


def poll(pred, timeout, step=0.02):
    """pred() until it is true or timeout seconds have passed; its last value."""
    end = time.monotonic() + timeout
    while not (value := pred()) and time.monotonic() < end:
        time.sleep(step)
    return value


def proc(pid, name):
    try:
        with open('/proc/%s/%s' % (pid, name), 'rb') as f:
            return f.read().decode(errors='replace')
    except OSError:
        return ''


def processes(test):
    """Live processes (not zombies, not this one) for which test(pid) holds."""
    return [int(p) for p in os.listdir('/proc') if p.isdigit() and int(p) != os.getpid() and
            proc(p, 'stat').rpartition(') ')[2][:1] not in ('', 'Z') and test(p)]


def prefix_processes():
    entry = '\0WINEPREFIX=%s\0' % os.environ['TOVIX_WINEPREFIX']
    return processes(lambda p: entry in '\0' + proc(p, 'environ'))


def kill_prefix():
    """Ends every process of the Wine prefix: wineserver -k, then by their WINEPREFIX what a lost server left."""
    subprocess.run([os.environ['TOVIX_WINESERVER'], '-k'], env=wine_env(), timeout=30, stderr=subprocess.DEVNULL)
    if not poll(lambda: not prefix_processes(), 3):
        for pid in prefix_processes():
            os.kill(pid, signal.SIGKILL)
    return poll(lambda: not prefix_processes(), 5)


def make_prefix():
    prefix = os.environ['TOVIX_WINEPREFIX']
    kill_prefix()
    shutil.rmtree(prefix, ignore_errors=True)
    env = {k: v for k, v in wine_env().items() if k not in ('DISPLAY', 'WAYLAND_DISPLAY')}
    subprocess.run([os.environ['TOVIX_WINE64'], 'wineboot', '--init'], env=env, timeout=300, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # A 150% display (144 dpi), where Windows would stretch the picture of a program not DPI-aware.
    subprocess.run([os.environ['TOVIX_WINE64'], 'reg', 'add', 'HKCU\\Control Panel\\Desktop', '/v', 'LogPixels',
                    '/t', 'REG_DWORD', '/d', '144', '/f'], env=env, timeout=60, check=True, stdout=subprocess.DEVNULL)
    # wineboot returns before the prefix's services have written everything out.
    subprocess.run([os.environ['TOVIX_WINESERVER'], '-w'], env=env, timeout=120)
    if not os.path.exists(prefix + '/system.reg'):
        sys.exit('wineboot left no registry in ' + prefix)


def xorg_conf(monitors):
    """Xorg's dummy driver, one RandR output per monitor: DUMMY0, DUMMY1, ... from the left."""
    w, h = max(m[0] + m[2] for m in monitors), max(m[1] + m[3] for m in monitors)
    conf = ('Section "ServerFlags"\n Option "AutoAddDevices" "false"\n Option "AutoEnableDevices" "false"\n'
            ' Option "AllowMouseOpenFail" "true"\n Option "DontVTSwitch" "true"\nEndSection\n')
    device = 'Section "Device"\n Identifier "card"\n Driver "dummy"\n VideoRam %d\n' % (w * h * 4 // 1024 + 4096)
    for i, (mw, mh, x, y) in enumerate(sorted(monitors, key=lambda m: m[2:])):
        conf += ('Section "Monitor"\n Identifier "m%d"\n HorizSync 5-1000\n VertRefresh 5-200\n'
                 ' Modeline "%dx%d" %.2f %d %d %d %d %d %d %d %d -hsync +vsync\n Option "PreferredMode" "%dx%d"\n'
                 # The dummy driver reports only its first output as connected; Enable turns the others on.
                 ' Option "Position" "%d %d"\n Option "Enable" "true"\n Option "Primary" "%s"\nEndSection\n'
                 % (i, mw, mh, (mw + 160) * (mh + 38) * 60 / 1e6, mw, mw + 24, mw + 136, mw + 160, mh, mh + 3,
                    mh + 9, mh + 38, mw, mh, x, y, str(monitors[0] == (mw, mh, x, y)).lower()))
        device += ' Option "Monitor-DUMMY%d" "m%d"\n' % (i, i)
    return conf + device + ('EndSection\nSection "Screen"\n Identifier "screen"\n Device "card"\n DefaultDepth 24\n'
                            ' SubSection "Display"\n  Depth 24\n  Virtual %d %d\n EndSubSection\nEndSection\n' % (w, h))


class Session:
    """An X server of our own showing the monitors; under Wine also a persistent wineserver for its life."""

    def __init__(self, runner, monitors, work, pin=True, shm=True):
        self.runner, self.monitors, self.work, self.children, self.guard = runner, monitors, work, [], None
        # A native program's framebuffer is the memory the X server copies from, while the program draws on.
        # On one processor with a real-time server, the program never draws while the server copies or
        # captures, so a capture shows one moment, as a display that waits for each frame would. The server
        # runs above the program's own lift on input (the lowest real-time priority): level with it, the
        # lifted program drew on before the server had copied what it was sent. Unpinned
        # (to measure), a capture may catch the server mid-copy: then the judge only counts.
        self.pin = ['taskset', '-c', '0'] if runner == 'native' and pin else []
        self.count_only = runner == 'native' and not pin
        fresh(work)
        read, write = os.pipe()
        argv = ['Xvfb', '-screen', '0', '%dx%dx24' % monitors[0][:2]]
        if len(monitors) > 1:
            with open(work + '/xorg.conf', 'w') as f:
                f.write(xorg_conf(monitors))
            argv = ['/usr/lib/xorg/Xorg', '-config', f.name, '-configdir', work + '/none', '-logfile',
                    work + '/xorg.log', '-novtswitch', '-sharevts']
            argv += ['-extension', 'MIT-SHM'] * (not shm)
        with open(work + '/x.log', 'w') as log:
            self.x = spawn(['chrt', '-f', '2'] * bool(self.pin) + self.pin + argv + ['-displayfd', str(write), '-nolisten', 'tcp', '-noreset'], pass_fds=[write],
                           stdout=log, stderr=log)
        os.close(write)
        with os.fdopen(read) as f:
            self.display = ':' + f.readline().strip()
        if self.display == ':':
            raise RuntimeError('no X server; see %s/x.log' % work)
        if runner == 'wine':
            self.start_wine()

    def start_wine(self):
        kill_prefix()  # what an interrupted run left would serve the wrong display
        read, self.guard = os.pipe()
        if os.fork() == 0:  # the guard: outside our process tree, it ends the prefix's processes if we die
            os.setsid()
            if os.fork() == 0:
                os.close(self.guard)
                for fd in (0, 1, 2):
                    os.dup2(os.open(os.devnull, os.O_RDWR), fd)
                if os.read(read, 1) == b'':
                    kill_prefix()
            os._exit(0)
        os.close(read)
        os.wait()
        # A server kept running between the programs spares each start the prefix's services.
        self.children.append(spawn([os.environ['TOVIX_WINESERVER'], '-f', '-p'], env=wine_env()))
        st = os.stat(os.environ['TOVIX_WINEPREFIX'])
        socket = '/tmp/*/server-%x-%x/socket' % (st.st_dev, st.st_ino)  # upstream: .wine-UID; Debian: wine-XXXXXX
        if not poll(lambda: glob.glob(socket) + glob.glob(socket.replace('*', '.wine-*')), 10):
            raise RuntimeError('wineserver did not come up')

    def close(self):
        for p in self.children:
            if p.poll() is None:
                os.killpg(p.pid, signal.SIGKILL)
                p.wait()
        if self.guard is not None:
            clean = kill_prefix()
            os.write(self.guard, b'0')
            os.close(self.guard)
            assert clean, 'processes of the Wine prefix survive: %s' % prefix_processes()
        self.x.terminate()
        try:
            self.x.wait(10)
        except subprocess.TimeoutExpired:  # stuck where it cannot take the signal
            self.x.kill()
            self.x.wait()

    def exe(self, prog):
        return os.environ[('TOVIX_%s' if self.runner == 'native' else 'TOVIX_%s_EXE') % prog.upper()]

    def launch(self, prog, wrapper=(), args=(), exe=None, user=False, **extra):
        """Starts prog (tiles or quads), or another file of it; p.log keeps what it writes. With user, as a desktop
        runs it: as the suite's user, with no right to raise its priority, in a session of its own."""
        exe = [reachable(exe or self.exe(prog)) if user else exe or self.exe(prog)] + list(args)
        # Leaks would turn the exit code: not ours. An extra variable set to None is left out.
        env = {k: v for k, v in dict(self.client_env(), ASAN_OPTIONS='detect_leaks=0', **extra).items() if v is not None}
        argv = self.pin + list(wrapper) + exe
        if self.runner == 'wine':
            env, argv = wine_env(DISPLAY=self.display, **extra), [os.environ['TOVIX_WINE64']] + exe
        log = '%s/%s-%d.log' % (self.work, prog, len(self.children))
        with open(log, 'w') as out:
            p = spawn(argv, become(*account()) if user else lambda: None, user, env=env, stdout=out, stderr=out)
        p.prog, p.exe, p.log, p.count, p.when_ns = prog, exe[0], log, 0, time.monotonic_ns()
        p.when = p.when_ns / 1e9
        self.children.append(p)
        return p

    def judge(self, p, timeout=0.0, cursor=False, monitors=None):
        """Judges the screen as p's picture until it fits or timeout seconds have passed, a second at a time so
        that the bound of the scan stays tight: (fits, layers per monitor, what the judge said)."""
        monitors, end = monitors or self.monitors, time.monotonic() + timeout
        rate = RATES[self.runner][p.prog] / (len(monitors) if p.prog == 'tiles' else 1)
        while True:
            now, part = time.monotonic(), min(1.0, max(0.0, end - time.monotonic()))
            r = subprocess.run([os.environ['TOVIX_JUDGE'], '-t', str(part)] +
                               self.capture_args(monitors, cursor) + ['-n'] * self.count_only + [p.prog, str(int(p.count + (now - p.when + part + 0.2) * rate))] +
                               ['%dx%d+%d+%d' % m for m in monitors],
                               env=self.client_env(), capture_output=True, text=True)
            counts = [int(n) for n in re.findall(r'^monitor \d+: (\d+)', r.stdout, re.M)]
            if r.returncode == 0:
                p.count, p.when = max(counts), now
            if r.returncode == 0 or time.monotonic() >= end:
                return r.returncode == 0, counts, r.stdout + r.stderr

    def client_env(self):
        """Our display alone, never a Wayland compositor that runs this suite."""
        return dict({k: v for k, v in os.environ.items() if k != 'WAYLAND_DISPLAY'}, DISPLAY=self.display)

    def capture_args(self, monitors, cursor):
        """How the judge captures the monitors: from the root window, and the pointer too when it must be hidden."""
        return ['-c'] * cursor

    def run(self, *argv):
        """A client on our display: xdotool, xrandr."""
        subprocess.run([str(a) for a in argv], env=self.client_env(), check=True)

    def end_under_load(self, p, ending, limit, jobs=None):
        """Sends ending while CPU-bound jobs run, by default one on every core: p's exit code and the seconds it
        took (None and limit if it still runs)."""
        with busy_jobs(jobs):
            try:
                os.setpriority(os.PRIO_PROCESS, 0, -10)  # our own wait for the processor is not what is measured
                start = time.monotonic()
                ending()
                ended = poll(lambda: p.poll() is not None, limit, 0.002)
                return p.returncode if ended else None, time.monotonic() - start
            finally:
                os.setpriority(os.PRIO_PROCESS, 0, 0)

    def left_behind(self, p):
        """Processes p leaves after 3 s: in its group (bar Wine's own services) or running its file."""
        name = p.exe if self.runner == 'native' else os.path.basename(p.exe)
        wine = prefix_processes() if self.runner == 'wine' else None

        def left():
            return processes(lambda pid: (proc(pid, 'stat').rpartition(') ')[2].split()[2] == str(p.pid) and not
                                          proc(pid, 'cmdline').startswith('C:\\windows\\') or
                                          name in proc(pid, 'cmdline')) and (wine is None or int(pid) in wine))
        return [] if poll(lambda: not left(), 3) else left()


if __name__ == '__main__':
    if sys.argv[1:] == ['prefix']:
        make_prefix()
    elif sys.argv[1:] == ['kill']:
        sys.exit(0 if kill_prefix() else 'processes of the Wine prefix survive: %s' % prefix_processes())
    else:
        sys.exit(__doc__)
