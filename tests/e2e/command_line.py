"""The native programs' command line with no display at all: each argument against the exit code and what each
stream says, which shows that it was answered before any display was opened.
   python3 command_line.py VERSION PROGRAM..."""
import os, re, subprocess, sys

USAGE = (r'Usage: {p} \[--root\] \[--window-id ID\]\n(?=(.*\n)*.*XSCREENSAVER_WINDOW)(?=(.*\n)*.*TOVIX_BACKEND)'
         r'(?=(.*\n)*.*SIGTERM)(?=(.*\n)*.*the pointer moves)(.*\n)+')
NO_DISPLAY = r'{p}: no display[^\n]*\n'  # taken: on to the display, of which there is none
# Arguments, exit code, then whole-text patterns of standard output and error; {p} the program, {v} the version.
CASES = [
    (['--help'], 0, USAGE, ''), (['--help', '--bogus'], 0, USAGE, ''),
    (['--version'], 0, r'{p} {v}\n', ''), (['-version'], 0, r'{p} {v}\n', ''),
    (['--bogus'], 2, '', r"{p}: unknown argument '--bogus'; see {p} --help\n"),
    (['--bogus', '--help'], 2, '', r"{p}: unknown argument '--bogus'; see {p} --help\n"),
    (['--root', 'extra'], 2, '', r"{p}: unknown argument 'extra'; see {p} --help\n"),
    (['--window-id'], 2, '', r'{p}: --window-id needs an X window id; see {p} --help\n'),
    (['--root'], 0, '', NO_DISPLAY), (['-root', '-window-id', '0x1234'], 0, '', NO_DISPLAY),
]
version, failures = sys.argv[1], []
env = {k: v for k, v in os.environ.items() if k not in ('DISPLAY', 'WAYLAND_DISPLAY', 'XSCREENSAVER_WINDOW')}
for program in sys.argv[2:]:
    name = os.path.basename(program)
    for args, code, *streams in CASES:
        r = subprocess.run([program] + args, env=dict(env, ASAN_OPTIONS='detect_leaks=0'), capture_output=True,
                           text=True, timeout=20)
        want = [p.replace('{p}', re.escape(name)).replace('{v}', re.escape(version)) for p in streams]
        if r.returncode != code or not all(re.fullmatch(w, got) for w, got in zip(want, (r.stdout, r.stderr))):
            failures.append('%s %s: exit %d, said %r and %r' % (name, ' '.join(args), r.returncode, r.stdout, r.stderr))
print('\n'.join(failures) or 'passed')
sys.exit(bool(failures))
