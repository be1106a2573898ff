"""The native programs' command line, answered before any display is opened: each argument against the exit
code and what the program says on each stream, run with no display at all.
   python3 command_line.py VERSION PROGRAM..."""
import os, re, subprocess, sys

USAGE = r'Usage: {p} \[--root\] \[--window-id ID\]\n(.*\n)+'
# Arguments, exit code, standard output, standard error: whole-text patterns, {p} the program, {v} the version.
CASES = [
    (['--help'], 0, USAGE, ''),
    (['-h'], 0, USAGE, ''),
    (['--help', '--bogus'], 0, USAGE, ''),
    (['--version'], 0, r'{p} {v}\n', ''),
    (['-version'], 0, r'{p} {v}\n', ''),
    (['--bogus'], 2, '', r"{p}: unknown argument '--bogus'; see {p} --help\n"),
    (['--bogus', '--help'], 2, '', r"{p}: unknown argument '--bogus'; see {p} --help\n"),
    (['--root', 'extra'], 2, '', r"{p}: unknown argument 'extra'; see {p} --help\n"),
    (['--window-id'], 2, '', r'{p}: --window-id needs an X window id; see {p} --help\n'),
    (['-root', '-window-id'], 2, '', r'{p}: -window-id needs an X window id; see {p} --help\n'),
    # Taken: on to the display, of which there is none.
    (['--root'], 0, '', r'{p}: no display[^\n]*\n'),
    (['-root', '-window-id', '0x1234'], 0, '', r'{p}: no display[^\n]*\n'),
    (['--window-id', '77'], 0, '', r'{p}: no display[^\n]*\n'),
]
# What --help must name.
HELP_NAMES = ['--root', '--window-id ID', 'XSCREENSAVER_WINDOW', 'TOVIX_BACKEND', 'SIGTERM', 'pointer', 'exit code 0']


def main():
    version, programs = sys.argv[1], sys.argv[2:]
    env = {k: v for k, v in os.environ.items() if k not in ('DISPLAY', 'WAYLAND_DISPLAY', 'XSCREENSAVER_WINDOW')}
    env['ASAN_OPTIONS'] = 'detect_leaks=0'
    failures = []
    for program in programs:
        name = os.path.basename(program)
        for args, code, out, err in CASES:
            r = subprocess.run([program] + args, env=env, capture_output=True, text=True, timeout=20)
            want = [re.escape(name).join(p.split('{p}')).replace('{v}', re.escape(version)) for p in (out, err)]
            if r.returncode != code or not all(re.fullmatch(w, got) for w, got in zip(want, (r.stdout, r.stderr))):
                failures.append('%s %s: exit %d\nstdout: %r\nstderr: %r' % (name, ' '.join(args), r.returncode,
                                                                          r.stdout, r.stderr))
            if args == ['--help']:
                failures += ['%s --help names no %s' % (name, n) for n in HELP_NAMES if n not in r.stdout]
    print('\n'.join(failures) or 'passed: %d cases, %d programs' % (len(CASES), len(programs)))
    sys.exit(1 if failures else 0)


if __name__ == '__main__':
    main()
