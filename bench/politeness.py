#!/usr/bin/env python3
"""What a CPU-bound job on every core (bench/burner) gets done beside a program, against alone with the program
stopped, in interleaved rounds: per program and display (x11: Xvfb 1920x1080; daemon: the program in a window of
that size handed over as a screen-saver daemon does; wayland: a headless sway with one 1920x1080 output; wine: the
.exe on Xvfb), with the program run by an ordinary user with a desktop's default limits
or by root, in a session of its own, and the job in that session or in another.
   politeness.py [--rounds N] [--seconds S] [--displays x11,daemon,wayland,wine] PROGRAM... WORK_DIR
PROGRAM is tiles or quads. Prints a table of the mean share the job kept; writes each row with its rounds to
WORK_DIR/rows.json and each row against the target (98%; Wine's have none) to WORK_DIR/targets.txt.
Needs TOVIX_TILES, TOVIX_QUADS (optimised builds), TOVIX_BURNER; for daemon TOVIX_INJECT; for wine TOVIX_TILES_EXE, TOVIX_QUADS_EXE,
TOVIX_WINE64, TOVIX_WINESERVER and TOVIX_WINEPREFIX (a ready prefix)."""
import argparse, json, os, signal, subprocess, sys, time
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'e2e'))
sys.dont_write_bytecode = True  # no cache files in the source tree
import e2e, wayland

SIZE = (1920, 1080, 0, 0)


# The session's leader: the program and, when asked, the job, both in its session. Debian's own Python, which
# any user may run.
LEADER = """import subprocess, sys
program = subprocess.Popen(sys.argv[2:], stdout=sys.stderr)
print(program.pid, flush=True)
for line in sys.stdin:
    print(subprocess.run([sys.argv[1], line.strip()], capture_output=True, text=True).stdout.strip(), flush=True)
program.kill()
program.wait()
"""


class Program:
    """A program in a session of its own, led by this script, as who."""

    def __init__(self, s, prog, who):
        exe = e2e.reachable(s.exe(prog)) if who == 'user' else s.exe(prog)
        argv = [exe] + s.args if s.runner == 'native' else [os.environ['TOVIX_WINE64'], exe]
        env = s.client_env() if s.runner == 'native' else e2e.wine_env(DISPLAY=s.display)
        with open('%s/%s-%s.log' % (s.work, prog, who), 'w') as log:
            job = e2e.reachable(os.environ['TOVIX_BURNER'])
            self.leader = e2e.spawn(['/usr/bin/python3', '-c', LEADER, job] + argv,
                                    e2e.become(*e2e.account()) if who == 'user' else lambda: None, True, env=env,
                                    stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=log, text=True)
        self.pid = int(self.leader.stdout.readline())

    def job_here(self, seconds):
        self.leader.stdin.write('%g\n' % seconds)
        self.leader.stdin.flush()
        return int(self.leader.stdout.readline())

    def close(self):
        self.leader.stdin.close()
        self.leader.wait()


def daemon_window(s):
    """Arguments that hand the programs a window as a screen-saver daemon does: bench/inject's, kept mapped while it
    runs."""
    s.keeper = e2e.spawn([os.environ['TOVIX_INJECT']], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
                         env=dict(os.environ, DISPLAY=s.display))
    s.keeper.stdin.write('window\n')
    s.keeper.stdin.flush()
    return ['-window-id', s.keeper.stdout.readline().strip()]


def job_elsewhere(seconds):
    return int(subprocess.run([os.environ['TOVIX_BURNER'], '%g' % seconds], capture_output=True, text=True).stdout)


def measure(s, prog, who, rounds, seconds):
    """Rows for both places of the job, their rounds interleaved: the same moment's machine for each."""
    p = Program(s, prog, who)
    kept = {'same': [], 'other': []}
    try:
        time.sleep(3)  # past start-up
        for _ in range(rounds):
            for where, job in (('same', p.job_here), ('other', job_elsewhere)):
                os.kill(p.pid, signal.SIGSTOP)
                alone = job(seconds)
                os.kill(p.pid, signal.SIGCONT)
                kept[where].append(round(100 * job(seconds) / max(alone, 1), 1))
    finally:
        p.close()
    return [dict(program='tovix' + prog, display=s.display_kind, who=who, session=where, rounds=shares,
                 keeps=round(sum(shares) / len(shares), 1)) for where, shares in kept.items()]


TARGET = 98
PLACES = [('user', 'same'), ('user', 'other'), ('root', 'same'), ('root', 'other')]


def table(rows):
    """The rows as a table, the mean share the job kept in each place."""
    kept = {(r['program'], r['display'], r['who'], r['session']): r['keeps'] for r in rows}
    lines = ['%-20s %-8s' % ('job keeps %', 'on') + ''.join('%12s' % ('%s %s' % p) for p in PLACES)]
    for program, display in dict.fromkeys((r['program'], r['display']) for r in rows):
        lines.append('%-20s %-8s' % (program, display) +
                     ''.join('%12s' % kept.get((program, display) + p, '') for p in PLACES))
    return lines


def targets(rows):
    return ['  %-58s %12s  %s' % ('job keeps >= %d%% beside %s on %s, %s, %s session' % (
        TARGET, r['program'], r['display'], r['who'], r['session']), '%.1f%%' % r['keeps'],
        'met' if r['keeps'] >= TARGET else 'MISSED') for r in rows if r['display'] != 'wine']


def main():
    a = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    a.add_argument('--rounds', type=int, default=2)
    a.add_argument('--seconds', type=float, default=4)
    a.add_argument('--displays', default='x11,daemon,wayland,wine')
    a.add_argument('programs', nargs='+')
    opts = a.parse_args()
    work, programs, rows = opts.programs[-1], opts.programs[:-1], []
    for display in opts.displays.split(','):
        if display == 'wayland':
            s = wayland.Sway(work + '/wayland', [('HEADLESS-1', *SIZE, 1)])
        else:
            s = e2e.Session('wine' if display == 'wine' else 'native', [SIZE], '%s/%s' % (work, display), pin=False)
        s.display_kind = display
        s.args = daemon_window(s) if display == 'daemon' else []
        try:
            for prog in programs:
                # Wine's prefix is root's: the user rows are the native programs'.
                for who in ('user', 'root') if display != 'wine' else ('root',):
                    rows += measure(s, prog, who, opts.rounds, opts.seconds)
        finally:
            if hasattr(s, 'keeper'):
                s.keeper.stdin.close()
                s.keeper.wait()
            s.close()
    with open(work + '/rows.json', 'w') as f:
        f.writelines(json.dumps(r, separators=(',', ':')) + '\n' for r in rows)
    with open(work + '/targets.txt', 'w') as f:
        f.writelines(line + '\n' for line in targets(rows))
    print('\n'.join(table(rows)))


if __name__ == '__main__':
    main()
