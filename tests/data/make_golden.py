# An independent, straightforward model of the conversion, used only to produce the expected
# out files of the end-to-end tests:  python3 make_golden.py CHART TARGETS OUT
import struct, sys
def f32(x): return struct.unpack('f', struct.pack('f', x))[0]
def read_columns(path, names):
    lines = open(path, newline='').read().split('\n')
    pos = [-1,-1,-1]; i = 1
    while True:
        l = lines[i]; i += 1
        if l.startswith('BEGIN_DATA_FORMAT'): continue
        if l.startswith('SAMPLE_ID') or l.startswith('SampleID'):
            for p, f in enumerate(l.split()):
                f = f.rstrip()
                for n in range(3):
                    if f == names[n]:
                        if pos[n] < 0: pos[n] = p
                        break
            continue
        if l.startswith('BEGIN_DATA'): break
    out = []
    for l in lines[i:]:
        fs = l.replace('\t',' ').split()
        if len(fs) <= 3: break
        v = [float(x) for x in fs]
        out.append([f32(v[p]) for p in pos])
    return out
def read_triplets(path):
    out = []
    for l in open(path):
        fs = l.split()
        try: out.append([float(x) for x in fs[:3]])
        except: break
        if len(fs) < 3: break
    return out
def preprocess(rgb, lab):
    if len(rgb) != 5202: return
    grays = []; keep_r = []; keep_l = []
    for r, l in zip(rgb, lab):
        if r[0] == r[1] == r[2]: grays.append((r[0], l))
        else: keep_r.append(r); keep_l.append(l)
    rgb[:] = keep_r; lab[:] = keep_l
    grays.sort(key=lambda t: t[0])  # stable: equal levels keep file order
    if len(grays) != 306:
        print("Warning: Preprocess5202Target () failed because an unexpected number (%u) of gray patches were found. We were expecting 306 gray patches instead." % len(grays)); return
    groups = []
    for lev, l in grays:
        if groups and groups[-1][0] == lev:
            g = groups[-1]; g[1] = [g[1][n] + l[n] for n in range(3)]; g[2] += 1
        else: groups.append([lev, list(l), 1])
    if len(groups) != 289:
        print("Warning: Preprocess5202Target () failed because an unexpected number (%u) of unique gray patches were found. We were expecting 289 unique gray patches instead." % len(groups)); return
    for g in groups:
        fct = 1.0 / g[2]; g[1] = [v * fct for v in g[1]]
    w = [0.0625, 0.25, 0.375, 0.25, 0.0625]
    for k in range(17):
        j = 18 * k
        if k in (0, 16): L = groups[j][1]
        else:
            L = []
            for n in range(3):
                s = groups[j-2][1][n] * w[0]
                for d in range(1, 5): s = s + groups[j-2+d][1][n] * w[d]
                L.append(s)
        lev = groups[j][0]
        print("(%f, %f, %f) -> (%f, %f, %f)" % (lev, lev, lev, L[0], L[1], L[2]))
        rgb.append([lev]*3); lab.append(L)
def lerp(a, b, x, x0, x1):
    t = (x - x0) / (x1 - x0)
    return [a[n] + (b[n] - a[n]) * t for n in range(3)]
def floor_idx(v, ax):
    for i in range(len(ax) - 1):
        if ax[i] <= v and ax[i+1] >= v: return i
    return -1
def compute(rgb, lab, targets):
    preprocess(rgb, lab)
    axes = [sorted(set(p[c] for p in rgb)) for c in range(3)]
    N = len(axes[0]); assert all(len(a) == N for a in axes)
    print("Appears to be a %d x %d x %d grid." % (N, N, N))
    idx = [{v: i for i, v in enumerate(a)} for a in axes]
    groups = {}
    for p, r in enumerate(rgb):
        groups.setdefault((idx[0][r[0]], idx[1][r[1]], idx[2][r[2]]), []).append(p)
    work = {}
    for key, ps in groups.items():
        s = list(lab[ps[0]])
        for q in ps[1:]: s = [s[n] + lab[q][n] for n in range(3)]
        if len(ps) > 1:
            rr = 1.0 / len(ps); work[key] = [v * rr for v in s]
        else: work[key] = lab[ps[0]]
    out = []
    for t in targets:
        f = [floor_idx(t[a], axes[a]) for a in range(3)]
        if min(f) < 0: return None
        c = lambda di, dj, dk: work[(f[0]+di, f[1]+dj, f[2]+dk)]
        b = axes[2]; x0, x1 = b[f[2]], b[f[2]+1]
        e00 = lerp(c(0,0,0), c(0,0,1), t[2], x0, x1); e01 = lerp(c(0,1,0), c(0,1,1), t[2], x0, x1)
        e10 = lerp(c(1,0,0), c(1,0,1), t[2], x0, x1); e11 = lerp(c(1,1,0), c(1,1,1), t[2], x0, x1)
        g = axes[1]; f0 = lerp(e00, e01, t[1], g[f[1]], g[f[1]+1]); f1 = lerp(e10, e11, t[1], g[f[1]], g[f[1]+1])
        r = axes[0]; out.append(lerp(f0, f1, t[0], r[f[0]], r[f[0]+1]))
    return out
chart, targets, outpath = sys.argv[1:4]
rgb = read_columns(chart, ['RGB_R','RGB_G','RGB_B']); lab = read_columns(chart, ['LAB_L','LAB_A','LAB_B'])
res = compute(rgb, lab, read_triplets(targets))
with open(outpath, 'w') as o:
    for v in res: o.write("%f\t%f\t%f\n" % tuple(v))
