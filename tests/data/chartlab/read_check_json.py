"""Reads chartlab check's JSON report (the first file) with the json module, checks its keys,
and finds its figures as the text report (the second file) shows them, null as "-", in order
in that text with its blanks collapsed; prints how many lines of figures it found."""
import json, sys
r = json.load(open(sys.argv[1]))
keys = {"patches", "grid", "repeatability", "holdout", "nonmonotone", "worst"}
assert set(r) in (keys, keys | {"grays"}) and set(r["holdout"]) == {"trilinear", "tetrahedral"}, sorted(r)
f = lambda v, places: "-" if v is None else "%.*f" % (places, v)
lines = []
say = lambda *words: lines.append(" ".join(map(str, words)))
say("patches %d" % r["patches"])
say("grid %d x %d x %d" % ((r["grid"],) * 3))
n = r["repeatability"]["de76"]["count"]
say("repeated patches " + ("%d measurements of" % n if n else "none"))
for d in [r["repeatability"], r["holdout"]["trilinear"], r["holdout"]["tetrahedral"]] + [r[k] for k in r if k == "grays"]:
    assert set(d) == {"de76", "de2000"} and all(set(s) == {"count", "mean", "p95", "max"} for s in d.values())
    for k in ("de76", "de2000"):
        say(k.replace("de", "dE"), d[k]["count"], *(f(d[k][s], 3) for s in ("mean", "p95", "max")))
say("Smoothness: %d" % r["nonmonotone"]["count"])
for w in r["worst"]:
    assert set(w) == {"rgb", "measured", "predicted", "de2000"}
    say(*("%g" % v for v in w["rgb"]), *(f(v, 2) for v in w["measured"] + w["predicted"]), f(w["de2000"], 3))
text, at = " ".join(open(sys.argv[2]).read().split()), 0
for line in lines:
    at = text.find(line, at)
    assert at >= 0, line
print(len(lines))
