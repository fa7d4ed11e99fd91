#!/usr/bin/env python3
"""Which production lines each test case reaches, and which cases reach nothing of their own.

Builds (or reuses) a coverage build, runs every gtest case of the suite alone, two at a time,
each on an Xvfb display of its own and with counts of its own (GCOV_PREFIX), the servers the
case starts included, and writes to OUT (default /tmp/case_coverage):

  unique.txt      a line a case: lines only it reaches, lines it reaches, its name; fewest first
  candidates.txt  the cases that reach at most two lines of their own, with the three cases that
                  reach most of the same lines: where to look for a test that is already there

A case that reaches nothing of its own may still be the only one that checks what it reaches;
this is where to start looking, before a fault made on purpose says whether another test fails.

Usage: python3 scripts/case_coverage.py [--build DIR] [--out DIR] [REGEX ...]
REGEX keeps the cases whose "ctest-name:Suite.Case" matches; the analysis covers what has run.
"""
import argparse
import glob
import json
import multiprocessing
import os
import pickle
import queue
import re
import shutil
import subprocess
import sys
import threading
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
NOT_GTEST = {'layer_check', 'debian_package', 'catalogues', 'kvl_unit_memcheck', 'kvl_xt_memcheck'}


def build(b):
    # A server a test leaves running is stopped with SIGTERM, not SIGKILL, so that it writes its
    # counts on the way out.
    flags = '--coverage -O0 -DQX_TEST_STOP_SIGNAL=SIGTERM'
    subprocess.run(['cmake', '-S', TOP, '-B', b, '-DCMAKE_BUILD_TYPE=Debug',
                    '-DCMAKE_CXX_FLAGS=' + flags, '-DCMAKE_C_FLAGS=' + flags,
                    '-DCMAKE_EXE_LINKER_FLAGS=--coverage'], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(['cmake', '--build', b, '-j2'], check=True, stdout=subprocess.DEVNULL)


def cases(b, only):
    listing = subprocess.run(['ctest', '--test-dir', b, '--show-only=json-v1'], check=True,
                             capture_output=True, text=True).stdout
    out = []
    for t in json.loads(listing)['tests']:
        if t['name'] in NOT_GTEST:
            continue
        props = {p['name']: p['value'] for p in t.get('properties', [])}
        cmd, cwd = t['command'], props.get('WORKING_DIRECTORY', b)
        env = dict(x.split('=', 1) for x in props.get('ENVIRONMENT', []))
        flt = [a for a in cmd[1:] if a.startswith('--gtest_filter=')]
        names = subprocess.run([cmd[0], '--gtest_list_tests'] + flt, capture_output=True,
                               text=True, cwd=cwd).stdout
        suite = None
        for line in names.splitlines():
            if line.strip() and not line.startswith(' '):
                suite = line.split()[0]
            elif line.strip():
                case = suite + line.split()[0]
                if not only or any(re.search(o, t['name'] + ':' + case) for o in only):
                    out.append((t['name'], case, cmd, cwd, env))
    return out


def run_all(b, out, todo):
    jobs = queue.Queue()
    for j in todo:
        jobs.put(j)
    lock = threading.Lock()

    def worker(display):
        xvfb = subprocess.Popen(['Xvfb', ':%d' % display, '-screen', '0', '1280x1024x24',
                                 '-nolisten', 'tcp'], stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        time.sleep(1)
        while True:
            try:
                name, case, cmd, cwd, env = jobs.get_nowait()
            except queue.Empty:
                break
            key = name + '__' + re.sub(r'[^A-Za-z0-9_.]', '_', case)
            e = dict(os.environ, **env)
            e.update(DISPLAY=':%d' % display, GCOV_PREFIX=os.path.join(out, key),
                     GCOV_PREFIX_STRIP='0', QX_HOME=b,
                     NLSPATH=b + '/share/locale/en/LC_MESSAGES/%N')
            args = [a for a in cmd[1:] if not a.startswith('--gtest_filter=')]
            try:
                rc = subprocess.run([cmd[0]] + args + ['--gtest_filter=' + case], cwd=cwd, env=e,
                                    capture_output=True, timeout=600).returncode
            except subprocess.TimeoutExpired:
                rc = 'timeout'
            with lock:
                print(key, rc, flush=True)
        xvfb.terminate()

    threads = [threading.Thread(target=worker, args=(91 + i,)) for i in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()


def lines_of(arg):
    """The production lines one run reached, as (path below the top, line) pairs."""
    out, b, run = arg
    base = os.path.join(out, run)
    cache = os.path.join(base, 'lines.pkl')
    if os.path.exists(cache):
        return run, pickle.load(open(cache, 'rb'))
    counts = glob.glob(base + b + '/**/*.gcda', recursive=True)
    for g in counts:  # gcov wants the notes beside the counts
        notes = g[:-5] + '.gcno'
        if not os.path.exists(notes):
            os.symlink(g[len(base):-5] + '.gcno', notes)
    reached = set()
    for i in range(0, len(counts), 50):
        p = subprocess.run(['gcov', '--json-format', '--stdout'] + counts[i:i + 50],
                           capture_output=True, text=True, cwd='/tmp')
        for doc in p.stdout.splitlines():
            if not doc.startswith('{'):
                continue
            report = json.loads(doc)
            for f in report.get('files', []):
                path = os.path.normpath(
                    os.path.join(report.get('current_working_directory', ''), f['file']))
                if not path.startswith(TOP + '/') or path.startswith(b):
                    continue
                path = path[len(TOP) + 1:]
                if path.startswith(('tests/', 'bench/')):
                    continue
                reached.update((path, ln['line_number']) for ln in f['lines'] if ln['count'])
    pickle.dump(reached, open(cache, 'wb'))
    return run, reached


def analyse(b, out):
    runs = sorted(r for r in os.listdir(out) if os.path.isdir(os.path.join(out, r)))
    with multiprocessing.Pool(2) as pool:
        reached = dict(pool.map(lines_of, [(out, b, r) for r in runs]))
    times = {}
    for lines in reached.values():
        for line in lines:
            times[line] = times.get(line, 0) + 1
    own = {r: sum(1 for line in lines if times[line] == 1) for r, lines in reached.items()}
    with open(os.path.join(out, 'unique.txt'), 'w') as f:
        for r in sorted(reached, key=lambda r: (own[r], len(reached[r]))):
            f.write('%5d %6d %s\n' % (own[r], len(reached[r]), r))
    with open(os.path.join(out, 'candidates.txt'), 'w') as f:
        for r in sorted(reached, key=lambda r: own[r]):
            if own[r] > 2 or not reached[r]:
                continue
            near = sorted(((len(reached[r] & reached[s]) / len(reached[r]), s)
                           for s in reached if s != r), reverse=True)[:3]
            f.write('%d %s | %s\n' % (own[r], r, ', '.join('%s %.2f' % (s, x) for x, s in near)))
    print('%d cases, %d production lines reached; %s' % (len(reached), len(times), out))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--build', default=os.path.join(TOP, 'build-coverage'))
    ap.add_argument('--out', default='/tmp/case_coverage')
    ap.add_argument('only', nargs='*')
    a = ap.parse_args()
    missing = [t for t in ('cmake', 'ctest', 'gcov', 'Xvfb') if not shutil.which(t)]
    if missing:
        ap.error('not installed: ' + ', '.join(missing))
    for o in a.only:
        try:
            re.compile(o)
        except re.error as e:
            ap.error('not a regular expression: %r: %s' % (o, e))
    b = os.path.abspath(a.build)
    if not os.path.exists(os.path.join(b, 'CMakeCache.txt')):
        build(b)
    os.makedirs(a.out, exist_ok=True)
    run_all(b, a.out, cases(b, a.only))
    analyse(b, a.out)


if __name__ == '__main__':
    sys.exit(main())
