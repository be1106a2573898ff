"""The native programs' and tovix-idle's command lines with no display or session at all: each argument against
the exit code and what each stream says, which shows that it was answered before any display was opened.
   python3 command_line.py VERSION PROGRAM..."""
import os, re, subprocess, sys

USAGE = (r'Usage: {p} \[--root\] \[--window-id ID\]\n(?=(.*\n)*.*XSCREENSAVER_WINDOW)(?=(.*\n)*.*TOVIX_BACKEND)'
         r'(?=(.*\n)*.*SIGTERM)(?=(.*\n)*.*the pointer moves)(.*\n)+')
NO_DISPLAY = r'{p}: no display[^\n]*\n'  # taken: on to the display, of which there is none
# Arguments, exit code, then whole-text patterns of standard output and error, and what to add to the environment;
# {p} the program, {v} the version.
CASES = [
    (['--help'], 0, USAGE, ''), (['--help', '--bogus'], 0, USAGE, ''),
    (['--version'], 0, r'{p} {v}\n', ''), (['-version'], 0, r'{p} {v}\n', ''),
    (['--bogus'], 2, '', r"{p}: unknown argument '--bogus'; see {p} --help\n"),
    (['--bogus', '--help'], 2, '', r"{p}: unknown argument '--bogus'; see {p} --help\n"),
    (['--root', 'extra'], 2, '', r"{p}: unknown argument 'extra'; see {p} --help\n"),
    (['--window-id'], 2, '', r'{p}: --window-id needs an X window id; see {p} --help\n'),
    (['--root'], 0, '', NO_DISPLAY), (['-root', '-window-id', '0x1234'], 0, '', NO_DISPLAY),
]
IDLE_USAGE = r'Usage: {p} \[--after SECONDS\] PROGRAM \[ARGUMENTS\.\.\.\]'
REFUSED = r'{p}: %s\n' + IDLE_USAGE + r'; see {p} --help\n'
SECONDS = REFUSED % '-?-after needs a whole number of seconds from 1 to 4294967'
NO_SESSION = r'{p}: no Wayland compositor, GNOME session or X display to watch\n'  # taken: on to the session
IDLE_CASES = [
    (['--help'], 0, IDLE_USAGE + r'\n(?=(.*\n)*.*ext-idle-notify-v1)(?=(.*\n)*.*SIGTERM)(.*\n)+', ''),
    (['-version', 'tovixtiles'], 0, r'{p} {v}\n', ''), ([], 2, '', REFUSED % 'no PROGRAM to start'),
    (['--after'], 2, '', SECONDS), (['--after', '0', 'x'], 2, '', SECONDS),
    (['-after', '4294968', 'x'], 2, '', SECONDS),
    (['--after', '+5', 'x'], 2, '', SECONDS), (['--after', '99999999999999999999', 'x'], 2, '', SECONDS),
    (['--bogus', 'x'], 2, '', REFUSED % "unknown option '--bogus'"), (['--', '--after'], 1, '', NO_SESSION),
    (['--after', '4294967', 'x', '--bogus'], 1, '', NO_SESSION),  # what follows PROGRAM is its own
    (['x'], 2, '', r'{p}: on X11 outside GNOME, let xscreensaver run the programs[^\n]*\n', {'DISPLAY': ':99'}),
]
version, failures = sys.argv[1], []
env = {k: v for k, v in os.environ.items() if k not in ('DISPLAY', 'WAYLAND_DISPLAY', 'XSCREENSAVER_WINDOW',
                                                         'DBUS_SESSION_BUS_ADDRESS', 'XDG_RUNTIME_DIR')}
for program in sys.argv[2:]:
    name = os.path.basename(program)
    for args, code, *streams, extra in ((*c, {})[:5] for c in (IDLE_CASES if name == 'tovix-idle' else CASES)):
        r = subprocess.run([program] + args, env=dict(env, ASAN_OPTIONS='detect_leaks=0', **extra),
                           capture_output=True, text=True, timeout=20)
        want = [p.replace('{p}', re.escape(name)).replace('{v}', re.escape(version)) for p in streams]
        if r.returncode != code or not all(re.fullmatch(w, got) for w, got in zip(want, (r.stdout, r.stderr))):
            failures.append('%s %s: exit %d, said %r and %r' % (name, ' '.join(args), r.returncode, r.stdout, r.stderr))
print('\n'.join(failures) or 'passed')
sys.exit(bool(failures))
