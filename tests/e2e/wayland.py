"""Wayland compositors of our own, headless, for the programs of e2e.py: sway 1.7 (wlroots on pixman, outputs
placed by its config, Xwayland on), run as a user of the suite's own since sway refuses root; GNOME's (mutter
43, and gnome-shell 43 on it) and KDE's (KWin 5.27), each with a session bus of its own. The judge reads captures
by grim on sway, else the compositor's own screenshots; the pointer and keys come from tovix_virtual_pointer
(TOVIX_POINTER). What this starts dies with it."""
import json, os, pwd, re, shutil, signal, subprocess, sys
sys.dont_write_bytecode = True  # no cache files in the source tree
import e2e

# Outputs: name, W, H, X, Y and scale; the primary, at the origin, first, as Windows enumerates monitors.
TWO = [('HEADLESS-1', 1280, 720, 0, 0, 1), ('HEADLESS-2', 800, 600, 1280, 0, 1)]
# Where mutter puts its virtual monitors, in order, and KWin its virtual outputs, which take one size.
GNOME = [('Meta-0', 1280, 720, 0, 0, 1), ('Meta-1', 800, 600, 1280, 0, 1)]
KDE = [('Virtual-0', 1280, 720, 0, 0, 1), ('Virtual-1', 1280, 720, 1280, 0, 1)]
KEYS = {'a': 30, 'shift': 42, 'escape': 1, 'alt': 56, 'f4': 62}  # evdev codes
# A desktop's session bus, its socket in the folder given, open to the suite whoever it runs as.
BUS = ('<busconfig><listen>unix:dir=%s</listen><auth>EXTERNAL</auth><policy context="default"><allow user="*"/>'
       '<allow own="*"/><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/></policy></busconfig>')


class Compositor(e2e.Session):
    """A compositor as the suite's user, in an XDG_RUNTIME_DIR of its own under /tmp. Nothing is pinned or
    real-time: a compositor shows whole buffers, and one that ran before the programs on their processor, as
    e2e.Session's X server does, would hold their input back while it composites."""
    tool, shots = ('TOVIX_POINTER',), 'grim'  # the input tool's variable and arguments; who takes screenshots

    def __init__(self, work, outputs, argv, env, config=''):
        self.runner, self.work, self.children, self.guard, self.count_only = 'native', work, [], None, False
        self.outputs, self.monitors, self.pin = outputs, [o[1:5] for o in outputs], []
        e2e.fresh(work)
        with open(work + '/config', 'w') as f:
            f.write(config)
        self.uid, self.gid = e2e.account()
        self.runtime = e2e.short_dir('run')
        os.chown(self.runtime, self.uid, self.gid)
        self.env = {'PATH': os.environ['PATH'], 'HOME': self.runtime, 'XDG_RUNTIME_DIR': self.runtime, **env}
        with open(work + '/compositor.log', 'w') as log:
            self.x = e2e.spawn(argv, before=e2e.become(self.uid, self.gid), env=self.env, cwd=self.runtime,
                               stdout=log, stderr=log)
        socket = lambda: [n for n in os.listdir(self.runtime) if re.fullmatch(r'wayland-\d+', n)]
        if not e2e.poll(lambda: socket() or self.x.poll() is not None, 10) or self.x.poll() is not None:
            raise RuntimeError('no compositor; see %s/compositor.log' % work)
        self.env['WAYLAND_DISPLAY'] = socket()[0]
        self.display, self.pointer = None, None

    def client_env(self):
        return dict(os.environ, **self.env, **({'DISPLAY': self.display} if self.display else {}))

    def ours(self):
        """Processes of this compositor's runtime directory still alive."""
        entry = '\0XDG_RUNTIME_DIR=%s\0' % self.runtime
        return e2e.processes(lambda p: entry in '\0' + e2e.proc(p, 'environ'))

    def close(self):
        super().close()
        left = [] if e2e.poll(lambda: not self.ours(), 5) else self.ours()
        for pid in left:
            os.kill(pid, signal.SIGKILL)
        assert not left, 'the compositor left processes behind: %s' % left

    def move(self, *command):
        """A command to our input tool ("move 3 0", "click", "wheel 1", "to X Y W H", "key 30"), taken once it
        returns."""
        if self.pointer is None:
            self.pointer = e2e.spawn([e2e.reachable(os.environ[self.tool[0]]), *self.tool[1:]], env=self.client_env(),
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, **self.as_user())
            self.children.append(self.pointer)
        self.pointer.stdin.write(' '.join(map(str, command)) + '\n')
        self.pointer.stdin.flush()
        if self.pointer.stdout.readline() != 'ok\n':
            raise RuntimeError('the virtual pointer failed at %s' % (command,))

    def as_user(self):
        """What runs a client as the compositor's user, as a desktop's own clients run: KWin offers its fake input
        only to a client whose program it can read."""
        return dict(user=self.uid, group=self.gid, extra_groups=[]) if os.getuid() == 0 else {}

    def point(self, x, y):
        """The pointer to (x, y) of the compositor's layout of its first outputs."""
        self.move('to', x, y, max(o[3] + o[1] // o[5] for o in self.outputs),
                  max(o[4] + o[2] // o[5] for o in self.outputs))

    def key(self, *names):
        """Keys of KEYS pressed in turn, released in reverse."""
        self.move('key', *(KEYS[n] for n in names))

    def kill(self):
        """The compositor dies at once, as in a crash."""
        os.kill(self.x.pid, signal.SIGKILL)


class Sway(Compositor):
    """sway with the outputs given, placed by its config, and Xwayland, whose DISPLAY it serves too."""

    def __init__(self, work, outputs=TWO):
        super().__init__(work, outputs, ['sway', '-c', work + '/config'],
                         {'WLR_BACKENDS': 'headless', 'WLR_RENDERER': 'pixman', 'WLR_LIBINPUT_NO_DEVICES': '1',
                          'WLR_HEADLESS_OUTPUTS': str(len(outputs))},
                         'xwayland force\n' + ''.join('output %s mode %dx%d position %d %d scale %g\n' % o
                                                       for o in outputs))
        ipc = lambda: [n for n in os.listdir(self.runtime) if n.startswith('sway-ipc.')]
        xwayland = lambda: [e2e.proc(p, 'cmdline').split('\0')[1] for p in self.ours()
                            if e2e.proc(p, 'comm') == 'Xwayland\n']
        if not e2e.poll(lambda: ipc() and xwayland(), 10):
            raise RuntimeError('sway came up without IPC or Xwayland; see %s/compositor.log' % work)
        self.env['SWAYSOCK'] = self.runtime + '/' + ipc()[0]
        self.display = xwayland()[0]
        # Xwayland lets in its own user alone; the suite's clients may be root.
        grant = lambda: subprocess.run(['xhost', '+si:localuser:' + pwd.getpwuid(os.getuid()).pw_name],
                                       env=self.client_env(), capture_output=True, **self.as_user()).returncode == 0
        if not e2e.poll(grant, 10, 0.1):
            raise RuntimeError('Xwayland refuses us; see %s/compositor.log' % work)
        want = sorted((n, x, y, w // k, h // k) for n, w, h, x, y, k in outputs)
        if not e2e.poll(lambda: self.layout() == want, 10):
            raise RuntimeError('sway shows %s, not %s' % (self.layout(), want))

    def layout(self):
        """(name, X, Y, W, H) of each active output, as sway places them."""
        r = subprocess.run(['swaymsg', '-r', '-t', 'get_outputs'], env=self.client_env(), capture_output=True)
        return sorted((o['name'], *(o['rect'][k] for k in ('x', 'y', 'width', 'height')))
                      for o in json.loads(r.stdout or '[]') if o['active'])

    def capture_args(self, monitors, cursor):
        """grim per output, in the monitors' order. The headless outputs show the pointer in every capture, so a
        picture that fits has it hidden too."""
        names = [o[0] for m in monitors for o in self.outputs if o[1:5] == m]
        return ['-p', '; '.join('grim -t ppm -o %s -' % n for n in names)]


class Desktop(Compositor):
    """GNOME's or KDE's compositor as a desktop session runs it, on a D-Bus session bus of its own, which also
    serves as its system bus (gnome-shell wants one, where it finds no logind): the suite starts the bus as
    dbus-run-session would, but as a child of its own, so that it ends with the suite however that ends.
    Its screenshots (shots: gnome, kwin; mutter takes none) show KWin's pointer, so a picture that fits there has it
    hidden; not gnome-shell's, which now and then gives a surface that appears under a still pointer no enter until
    it moves, and a program cannot hide a pointer it was never given."""

    def __init__(self, work, outputs, argv, env, shots):
        self.shots, (uid, gid), folder = shots, e2e.account(), e2e.short_dir('bus')
        os.chown(folder, uid, gid)
        with open(folder + '/bus.conf', 'w') as f:
            f.write(BUS % folder)
        self.bus = e2e.spawn(['dbus-daemon', '--nofork', '--print-address', '--config-file=' + f.name],
                             before=e2e.become(uid, gid), stdout=subprocess.PIPE, text=True)
        address = self.bus.stdout.readline().strip()
        try:
            super().__init__(work, outputs, argv, dict(env, DBUS_SESSION_BUS_ADDRESS=address,
                                                       DBUS_SYSTEM_BUS_ADDRESS=address))
        except BaseException:
            self.bus.kill()
            raise

    def close(self):
        try:
            super().close()
        finally:
            self.bus.kill()
            self.bus.wait()

    def capture_args(self, monitors, cursor):
        """The compositor's screenshot of the desktop, cut into the monitors by one convert. gnome-shell writes a
        PNG; KWin writes the pixels, 32-bit words 0xAARRGGBB little-endian, into the pipe it is handed."""
        size = [max(m[i] + m[i + 2] for m in monitors) for i in (0, 1)]
        take = ('gdbus call -e -d org.gnome.Shell.Screenshot -o /org/gnome/Shell/Screenshot -m org.gnome.Shell.'
                'Screenshot.Screenshot false false {0} >/dev/null && convert {0}' if self.shots == 'gnome' else
                'gdbus call -e -d org.kde.KWin.ScreenShot2 -o /org/kde/KWin/ScreenShot2 -m org.kde.KWin.ScreenShot2.'
                'CaptureWorkspace "{{\'include-cursor\': <true>}}" 3 3>&1 >/dev/null | convert -size {1}x{2} -depth 8 '
                'bgra:-').format(self.runtime + '/shot', *size)
        return ['-p', take + ''.join(' \\( -clone 0 -crop %dx%d+%d+%d \\)' % m for m in monitors) +
                ' -delete 0 -depth 8 ppm:-']


class Gnome(Desktop):
    """mutter, GNOME's compositor, with virtual monitors, or gnome-shell on it (shell=True), which starts in its
    overview (an Escape leaves it) and takes screenshots for gdbus in its unsafe mode alone. On mutter's remote
    desktop a seat gains its keyboard at the first key: a program started before would have none."""
    tool = ('TOVIX_POINTER', '--mutter')

    def __init__(self, work, shell=False, outputs=GNOME):
        super().__init__(work, outputs, ['gnome-shell', '--unsafe-mode'] * shell + ['mutter'] * (not shell) +
                         ['--wayland', '--headless', '--no-x11', '--wayland-display=wayland-0'] +
                         sum((['--virtual-monitor', '%dx%d' % o[1:3]] for o in outputs), []), {},
                         'gnome' if shell else None)
        shell_call = lambda *argv: subprocess.run(['gdbus', 'call', '-e', '-d', 'org.gnome.Shell', '-o',
                                                   '/org/gnome/Shell', '-m', *argv], env=self.client_env(),
                                                  capture_output=True, text=True)
        overview = lambda: shell_call('org.freedesktop.DBus.Properties.Get', 'org.gnome.Shell', 'OverviewActive').stdout
        try:
            if shell and not e2e.poll(lambda: 'true' in overview(), 20):
                raise RuntimeError('gnome-shell shows no overview; see %s/compositor.log' % work)
            self.key('escape' if shell else 'shift')
            if shell and not e2e.poll(lambda: 'false' in overview(), 5):
                raise RuntimeError('gnome-shell stays in its overview')
        except BaseException:
            self.close()
            raise
        if shell:  # its banners, that the screen cannot lock here, would cover the pictures for seconds
            shell_call('org.gnome.Shell.Eval', 'Main.messageTray.bannerBlocked = true; '
                       'Main.messageTray.getSources().forEach(s => s.destroy())')


class Kwin(Desktop):
    """KWin with virtual outputs of one size, its fake input and screenshots open to its own user's clients. Debian's
    binary carries a file capability that a container's bounding set may lack, where it cannot run: a copy can."""

    def __init__(self, work, outputs=KDE):
        folder = e2e.short_dir('bin')
        os.chmod(folder, 0o755)
        kwin = shutil.copy('/usr/bin/kwin_wayland', folder)
        super().__init__(work, outputs, [kwin, '--virtual', '--width', str(outputs[0][1]), '--height',
                                         str(outputs[0][2]), '--output-count', str(len(outputs)), '--socket',
                                         'wayland-0', '--no-lockscreen', '--no-global-shortcuts', '--no-kactivities'],
                         {'KWIN_WAYLAND_NO_PERMISSION_CHECKS': '1', 'KWIN_SCREENSHOT_NO_PERMISSION_CHECKS': '1',
                          'QT_LOGGING_RULES': 'kwin_*.debug=false'}, 'kwin')
