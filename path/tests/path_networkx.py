#!/usr/bin/env python3
"""The answers korvalinde-path gives, computed with networkx: a reference for
the tests and the benchmark, not part of the product.

usage: path_networkx.py KEYLIST [-n N] [-k K] [--time] < pairs

Reads the key list with the import's rules (18-byte blocks from the start,
a block counts only when its last byte is a line end; the lowest index
wins for a repeated id; signers without a "p" record are passed over;
"s" records before any "p" record add nothing), then answers each
"FROM TO" line (16 hex digits each) with one JSON line: hops, the number of
shortest paths, the first N of them in ascending order of their key ids
(all of them enumerated and sorted: only for graphs where that is cheap),
and the vertex connectivity from FROM to TO (networkx's
local_node_connectivity on the graph without self-loops, cut off at K).
With --time it lists no paths and prints the seconds per query on
standard error instead."""
import json
import sys
import time

import networkx as nx
from networkx.algorithms.connectivity import (build_auxiliary_node_connectivity,
                                              local_node_connectivity)
from networkx.algorithms.flow import build_residual_network


def load(path):
    data = open(path, "rb").read()
    ids, edges = {}, []
    blocks = [data[i:i + 18] for i in range(0, len(data) - 17, 18)]
    for b in blocks:
        if b[17:18] == b"\n" and b[0:1] == b"p":
            ids.setdefault(int(b[1:17], 16), None)
    current = None
    for b in blocks:
        if b[17:18] != b"\n":
            continue
        if b[0:1] == b"p":
            current = int(b[1:17], 16)
        elif b[0:1] == b"s" and current is not None:
            signer = int(b[1:17], 16)
            if signer in ids:
                edges.append((signer, current))
    g = nx.DiGraph()
    g.add_nodes_from(ids)
    g.add_edges_from((u, w) for u, w in edges if u != w)
    return g


def count_paths(g, s, t):
    """Shortest paths from s to t by counting along BFS predecessors."""
    pred, seen = nx.predecessor(g, s, return_seen=True)
    if t not in seen:
        return None, 0
    count = {s: 1}
    for v in sorted(seen, key=seen.get)[1:]:
        if seen[v] > seen[t]:
            break
        count[v] = sum(count[p] for p in pred[v])
    return seen[t], count[t]


def main():
    args = sys.argv[1:]
    n, k, timing = 10, 8, "--time" in args
    args = [a for a in args if a != "--time"]
    if "-n" in args:
        n = int(args[args.index("-n") + 1])
    if "-k" in args:
        k = int(args[args.index("-k") + 1])
    started = time.perf_counter()
    g = load(args[0])
    aux = build_auxiliary_node_connectivity(g)
    residual = build_residual_network(aux, "capacity")
    print(f"networkx: load {time.perf_counter() - started:.1f} s, {g.number_of_nodes()} keys, "
          f"{g.number_of_edges()} distinct signatures", file=sys.stderr)
    for line in sys.stdin:
        words = line.split()
        if len(words) != 2:
            continue
        s, t = (int(w, 16) for w in words)
        started = time.perf_counter()
        hops, total = count_paths(g, s, t)
        paths, disjoint = [], 0
        if hops is not None and not timing:
            paths = sorted(nx.all_shortest_paths(g, s, t))[:n]
        if hops is not None:
            disjoint = 1 if s == t else local_node_connectivity(
                g, s, t, auxiliary=aux, residual=residual, cutoff=k)
        elapsed = time.perf_counter() - started
        if timing:
            print(f"{elapsed * 1e6:.0f}", file=sys.stderr)
        print(json.dumps({"from": f"{s:016X}", "to": f"{t:016X}", "hops": hops,
                          "paths_total": total,
                          "paths": [[f"{v:016X}" for v in p] for p in paths],
                          "disjoint": min(disjoint, k)}, separators=(",", ":")))


if __name__ == "__main__":
    main()
