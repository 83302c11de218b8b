#!/usr/bin/env python3
"""Compares korvalinde-path --json answers (first file) with
path_networkx.py's (second file), line by line; prints each difference and
exits with 1 if there is any."""
import json
import sys

bad = 0
ours = [json.loads(line) for line in open(sys.argv[1])]
theirs = [json.loads(line) for line in open(sys.argv[2])]
if len(ours) != len(theirs):
    print(f"{len(ours)} answers, networkx gave {len(theirs)}")
    bad += 1
for a, b in zip(ours, theirs):
    total_ok = a["paths_total"] == b["paths_total"] or (
        a["paths_total_saturated"] and b["paths_total"] >= a["paths_total"])
    disjoint_ok = a["disjoint"] == b["disjoint"]
    if (a["from"], a["to"]) != (b["from"], b["to"]) or a["hops"] != b["hops"] or not total_ok \
            or a["paths"] != b["paths"] or not disjoint_ok:
        print("differs:", json.dumps(a), "networkx:", json.dumps(b))
        bad += 1
print(f"{len(ours)} answers compared, {bad} differ")
sys.exit(1 if bad else 0)
