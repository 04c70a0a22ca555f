# A COMTRADE reader written from the 1999 layout of the standard alone, as
# another program would read a pair: it checks line 1's revision, channel
# numbers from 1, sample numbers from 1, the count on the rate line, day-first
# dates, and prints what it found as JSON.
# Usage: comtradeReader.py FILE.cfg FILE.dat
import datetime, json, sys
cfg = open(sys.argv[1], 'rb').read().decode('cp1251').split('\r\n')
station, device, rev = cfg[0].split(',')
assert rev == '1999', rev
tt, na, nd = cfg[1].split(',')
assert na.endswith('A') and nd.endswith('D')
na, nd = int(na[:-1]), int(nd[:-1])
assert int(tt) == na + nd
analog = []
for i in range(na):
    f = cfg[2 + i].split(',')
    assert len(f) == 13 and int(f[0]) == i + 1 and f[12] in ('P', 'S'), f
    analog.append(dict(id=f[1], unit=f[4], a=float(f[5]), b=float(f[6]), ps=f[12]))
digital = []
for i in range(nd):
    f = cfg[2 + na + i].split(',')
    assert len(f) == 5 and int(f[0]) == i + 1 and f[4] in ('0', '1'), f
    digital.append(f[1])
k = 2 + na + nd
lf, nrates = float(cfg[k]), int(cfg[k + 1])
assert nrates == 1
samp, endsamp = cfg[k + 2].split(',')
def when(text):
    d, t = text.split(',')
    return datetime.datetime.strptime(d + ' ' + t, '%d/%m/%Y %H:%M:%S.%f')
start, trigger = when(cfg[k + 3]), when(cfg[k + 4])
assert cfg[k + 5] == 'ASCII'
timemult = float(cfg[k + 6])
rows = [l.split(',') for l in open(sys.argv[2], 'rb').read().decode('ascii').split('\r\n') if l]
assert len(rows) == int(endsamp)
for n, r in enumerate(rows):
    assert int(r[0]) == n + 1 and len(r) == 2 + na + nd
def values(r):
    return [c['a'] * int(r[2 + i]) + c['b'] for i, c in enumerate(analog)]
print(json.dumps(dict(names=[c['id'] for c in analog], units=[c['unit'] for c in analog],
    ps=[c['ps'] for c in analog], digital=digital, rate=float(samp), count=len(rows),
    start=start.isoformat(), trigger=trigger.isoformat(),
    first_us=int(rows[0][1]) * timemult, last_us=int(rows[-1][1]) * timemult,
    values=[values(rows[0]), values(rows[len(rows) // 2]), values(rows[-1])])))
