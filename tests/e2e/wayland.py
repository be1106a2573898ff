"""Wayland compositors of our own, headless, for the programs of e2e.py: sway 1.7 (wlroots on pixman, outputs
placed by its config, Xwayland on), run as a user of the suite's own since sway refuses root, and weston 10.
The judge reads captures by grim (weston-screenshooter on weston); keys come from wtype, the pointer from
tovix_virtual_pointer (TOVIX_POINTER). What this starts dies with it.
   python3 wayland.py shell    sway with two outputs until Ctrl-C, with what a program run by hand needs"""
import json, os, pwd, re, signal, subprocess, sys
sys.dont_write_bytecode = True  # no cache files in the source tree
import e2e

# Outputs: name, W, H, X, Y and scale; the primary, at the origin, first, as Windows enumerates monitors.
TWO = [('HEADLESS-1', 1280, 720, 0, 0, 1), ('HEADLESS-2', 800, 600, 1280, 0, 1)]


class Compositor(e2e.Session):
    """A compositor as the suite's user, in an XDG_RUNTIME_DIR of its own under /tmp. Nothing is pinned or
    real-time: a compositor shows whole buffers, and one that ran before the programs on their processor, as
    e2e.Session's X server does, would hold their input back while it composites."""

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
        """A command to our virtual pointer ("move 3 0", "click", "wheel 1", "to X Y W H"), taken once it returns."""
        if self.pointer is None:
            self.pointer = e2e.spawn([os.environ['TOVIX_POINTER']], env=self.client_env(), stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, text=True)
            self.children.append(self.pointer)
        self.pointer.stdin.write(' '.join(map(str, command)) + '\n')
        self.pointer.stdin.flush()
        if self.pointer.stdout.readline() != 'ok\n':
            raise RuntimeError('the virtual pointer failed at %s' % (command,))

    def type(self, *keys):
        """Keys by wtype, in one run that waits first: the first key of a new virtual keyboard can be lost."""
        self.run('wtype', '-s', 300, *keys)


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
                                       user=self.uid, group=self.gid, extra_groups=[], env=self.client_env(),
                                       capture_output=True).returncode == 0
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


class Weston(Compositor):
    """weston with one output, the desktop shell and its screenshooter."""

    def __init__(self, work, size=(1024, 768)):
        super().__init__(work, [('headless', *size, 0, 0, 1)],
                         ['weston', '--backend=headless-backend.so', '--use-pixman', '--width=%d' % size[0],
                          '--height=%d' % size[1], '--idle-time=0', '--debug'], {})

    def capture_args(self, monitors, cursor):
        shots = self.work + '/shots'
        os.makedirs(shots, exist_ok=True)
        return ['-p', 'cd %s && rm -f *.png && weston-screenshooter && convert *.png ppm:-' % shots]


def shell():
    s = Sway('/tmp/tovix-wayland-shell')
    try:
        print('WAYLAND_DISPLAY=%s XDG_RUNTIME_DIR=%s DISPLAY=%s SWAYSOCK=%s' %
              (s.env['WAYLAND_DISPLAY'], s.runtime, s.display, s.env['SWAYSOCK']), flush=True)
        s.x.wait()
    finally:
        s.close()


if __name__ == '__main__':
    shell() if sys.argv[1:] == ['shell'] else sys.exit(__doc__)
