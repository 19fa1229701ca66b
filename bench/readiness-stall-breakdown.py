#!/usr/bin/env python3
# Breaks down where the main thread's time goes in its long stretches between two sleeps in the
# event loop (a stall by the wall clock): running, waiting for a processor, asleep on a futex
# (Qt's thread pool finishing the pieces of a fill), and who held the processors meanwhile (the
# strip's loading threads, Qt's pool threads, other processes, or nobody: idle or taken by the host).
#
#   perf sched record -g -o sched.data -- build-bench/bench/ItemDisplayReadinessBench run /tmp/strip-photos 100 40
#   perf sched timehist -i sched.data -s | grep -E 'ItemDisplayRead|pooled'    # the thread ids
#   perf script -i sched.data -F comm,tid,pid,cpu,time,event,trace > all.txt
#   perf script -i sched.data --tid MAIN -F tid,time,event,trace,ip,sym > main.txt
#   python3 bench/readiness-stall-breakdown.py all.txt main.txt MAIN POOL1,POOL2 LOADER1,LOADER2 [LIMIT_MS]
#
# The first stretch (the first photo's load before the run starts) is left out.
import re, sys, collections
allf, ccf, M = sys.argv[1], sys.argv[2], int(sys.argv[3])
pool = set(int(x) for x in sys.argv[4].split(',') if x)
loaders = set(int(x) for x in sys.argv[5].split(',') if x)
limit = float(sys.argv[6]) if len(sys.argv) > 6 else 8.0
line_re = re.compile(r'^\s*(.*?)\s+(\d+)/(\d+)\s+\[(\d+)\]\s+([\d.]+):\s+(\S+):\s+(.*)$')
# sleep kinds of main-thread switch-outs, from the callchain file
kind = {}
cur = None
for ln in open(ccf):
    if not ln.startswith('\t') and 'sched_switch' in ln and 'prev_pid=%d ' % M in ln:
        t = float(ln.split()[1].rstrip(':'))
        cur = [t, []]
        kind[t] = cur
    elif ln.startswith('\t') and cur is not None:
        cur[1].append(ln.split()[1] if len(ln.split()) > 1 else '?')
    elif not ln.strip():
        cur = None
def sleepkind(t):
    st = kind.get(t)
    if not st: return 'unknown'
    s = st[1]
    if any('poll' in f for f in s): return 'poll'
    if any('futex' in f for f in s):
        return 'futex:' + s[-1]
    return 'other:' + ','.join(s[2:5])
events = []
for ln in open(allf):
    m = line_re.match(ln)
    if not m: continue
    comm, tid, pid, cpu, t, ev, rest = m.groups()
    events.append((float(t), int(cpu), int(tid), ev, rest))
events.sort(key=lambda e: e[0])
# per-thread state of interest: 'run', 'wait'(runnable), 'sleep'
state = {}
oncpu = {}  # cpu -> (tid, comm)
mstate = ('sleep', 'poll', events[0][0])
spans = []  # list of main-thread segments (start,end,state,detail)
cur_span = None
loop_spans = []
busy_start = None
seg = []
def seg_add(a, b, st, det):
    if b > a: seg.append((a, b, st, det))
pool_state = {p: 'sleep' for p in pool}
pool_runnable_time = collections.Counter()
last_t = events[0][0]
mseg_start = events[0][0]
mcur = ('sleep', 'poll')
pool_wait_in_futex = 0.0
pool_run_in_futex = 0.0
results = []
def cat(otid, ocomm):
    if otid in loaders: return 'own loader'
    if otid in pool: return 'own pool'
    if otid == 0 or ocomm.startswith('swapper'): return 'idle (or host steal)'
    return 'other process'
def close_busy(t):
    global seg, busy_start
    if busy_start is not None:
        results.append((busy_start, t, seg))
    seg = []
for (t, cpu, tid, ev, rest) in events:
    # account interval since last event
    dt = t - last_t
    if busy_start is not None and dt > 0:
        st, det = mcur
        if st == 'runnable':
            for c, (otid, ocomm) in oncpu.items():
                seg.append((last_t, t, 'cpu_while_main_runnable', cat(otid, ocomm)))
        if st == 'sleep' and det.startswith('futex'):
            for p in pool:
                if pool_state.get(p) == 'runnable':
                    seg.append((last_t, t, 'poolwait', p))
                elif pool_state.get(p) == 'run':
                    seg.append((last_t, t, 'poolrun', p))
            for c, (otid, ocomm) in oncpu.items():
                if otid not in pool and otid != M:
                    seg.append((last_t, t, 'cpu_while_pool_waits', cat(otid, ocomm)))
        seg.append((last_t, t, st, det))
    last_t = t
    if ev == 'sched:sched_switch':
        f = dict(re.findall(r'(\w+)=(\S+)', rest.split('==>')[0]))
        g = dict(re.findall(r'(\w+)=(\S+)', rest.split('==>')[1]))
        prev, nxt = int(f['prev_pid']), int(g['next_pid'])
        ncomm = re.search(r'next_comm=(.*?) next_pid', rest).group(1)
        oncpu[cpu] = (nxt, ncomm)
        if prev == M:
            if f['prev_state'].startswith('R'):
                mcur = ('runnable', 'preempted')
            else:
                k = sleepkind(t)
                if k == 'poll':
                    close_busy(t); busy_start = None
                mcur = ('sleep', k)
        if nxt == M:
            mcur = ('run', '')
        if prev in pool:
            pool_state[prev] = 'runnable' if f['prev_state'].startswith('R') else 'sleep'
        if nxt in pool:
            pool_state[nxt] = 'run'
    elif ev in ('sched:sched_waking', 'sched:sched_wakeup_new'):
        w = int(re.search(r'pid=(\d+)', rest).group(1))
        if w == M and mcur[0] == 'sleep':
            if mcur[1] == 'poll':
                busy_start = t
                seg = []
            mcur = ('runnable', 'woken')
        if w in pool and pool_state.get(w) == 'sleep':
            pool_state[w] = 'runnable'
# report
long = [(a, b, s) for a, b, s in results[1:] if (b - a) * 1000 > limit]
print('busy spans (event-loop wake to next event-loop sleep):', len(results), ' over %.0f ms:' % limit, len(long))
tot = collections.Counter()
for a, b, s in sorted(long, key=lambda r: r[0] - r[1])[:15]:
    c = collections.Counter()
    for x, y, st, det in s:
        key = st if st in ('run', 'runnable') else (st + ':' + str(det))
        c[key] += (y - x) * 1000
    for k, v in c.items(): tot[k] += v
    print('%.3f  %.1f ms  ' % (a, (b - a) * 1000) + ', '.join('%s %.1f' % (k, v) for k, v in c.most_common(8)))
c_all = collections.Counter()
for a, b, s in long:
    for x, y, st, det in s:
        key = st if st in ('run', 'runnable') else (st + ':' + str(det))
        c_all[key] += (y - x) * 1000
print('\ntotal over all long spans (ms; the processors\' holders summed over both processors):')
for k, v in c_all.most_common(20): print('  %8.1f  %s' % (v, k))
