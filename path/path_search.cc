#include "path_search.h"

#include <algorithm>
#include <span>

namespace {

size_t at(int32_t k) {
    return static_cast<size_t>(k);
}

uint64_t add_saturating(uint64_t a, uint64_t b) {
    uint64_t sum = 0;
    return __builtin_add_overflow(a, b, &sum) ? PATH_COUNT_MAX : sum;
}

uint64_t multiply_saturating(uint64_t a, uint64_t b) {
    uint64_t product = 0;
    return __builtin_mul_overflow(a, b, &product) ? PATH_COUNT_MAX : product;
}

// One side of the bidirectional search: the keys at `layer` hops from its
// own end, the adjacency it follows, and its distances and path counts.
// Every key the side reached is kept in `layers`, layer after layer
// (layer_start[l] is where layer l begins), for the marking of the paths.
struct search_side {
    const std::vector<int64_t>& start;
    const std::vector<int32_t>& keys;
    std::vector<int32_t>& dist;
    std::vector<uint64_t>& count;
    std::vector<int32_t> frontier;
    int32_t layer = 0;
    std::vector<int32_t> layers;
    std::vector<size_t> layer_start{0};
};

// A signature joining the two searches, as from -> ... -> near -> far -> ... -> to.
struct meeting_edge {
    int32_t near;
    int32_t far;
};

// The edges the keys have in the adjacency start indexes: the work of
// expanding them.
int64_t degree_sum(const std::vector<int64_t>& start, std::span<const int32_t> keys) {
    int64_t sum = 0;
    for (int32_t k : keys)
        sum += start[at(k) + 1] - start[at(k)];
    return sum;
}

// Expands one whole layer of `side`. A neighbour the other side has seen is
// at the other side's last layer, so each such edge joins shortest paths:
// their number (paths to the edge's near end times paths from its far end)
// is added to total, and the edge to meets (forward: the side searching
// from the start key). Returns whether any such edge was found; the
// frontier then stays at its layer.
bool expand_layer(search_side& side, const search_side& other, bool forward,
                  std::vector<int32_t>& next, std::vector<int32_t>& touched, uint64_t& total,
                  std::vector<meeting_edge>& meets) {
    bool met = false;
    next.clear();
    int32_t next_layer = side.layer + 1;
    for (int32_t u : side.frontier) {
        uint64_t paths_to_u = side.count[at(u)];
        for (int64_t e = side.start[at(u)]; e < side.start[at(u) + 1]; ++e) {
            int32_t w = side.keys[static_cast<size_t>(e)];
            if (other.dist[at(w)] >= 0) {
                met = true;
                total = add_saturating(total, multiply_saturating(paths_to_u, other.count[at(w)]));
                meets.push_back(forward ? meeting_edge{u, w} : meeting_edge{w, u});
            } else if (met) {
                continue;
            } else if (side.dist[at(w)] < 0) {
                side.dist[at(w)] = next_layer;
                side.count[at(w)] = paths_to_u;
                next.push_back(w);
                touched.push_back(w);
            } else if (side.dist[at(w)] == next_layer) {
                side.count[at(w)] = add_saturating(side.count[at(w)], paths_to_u);
            }
        }
    }
    if (!met) {
        side.frontier.swap(next);
        side.layer = next_layer;
        side.layer_start.push_back(side.layers.size());
        side.layers.insert(side.layers.end(), side.frontier.begin(), side.frontier.end());
    }
    return met;
}

// One step of the marking toward a side's own end: the keys of `side`'s
// layer `layer` - 1 with an edge to a key of `marked` (all at `place`) get
// place `place_before`. Either the marked keys' edges toward that end are
// read or the layer's edges away from it, whichever are fewer: a key on
// many paths may have many more signatures than the layer before it has.
void mark_layer_before(const search_side& side, const std::vector<int64_t>& back_start,
                       const std::vector<int32_t>& back_keys, int32_t layer, int32_t place,
                       int32_t place_before, std::vector<int32_t>& positions,
                       std::vector<int32_t>& marked, std::vector<int32_t>& next) {
    next.clear();
    const std::span<const int32_t> before(side.layers.data() + side.layer_start[at(layer - 1)],
                                          side.layers.data() + side.layer_start[at(layer)]);
    if (degree_sum(back_start, marked) <= degree_sum(side.start, before)) {
        for (int32_t u : marked)
            for (int64_t e = back_start[at(u)]; e < back_start[at(u) + 1]; ++e) {
                int32_t p = back_keys[static_cast<size_t>(e)];
                if (side.dist[at(p)] == layer - 1 && positions[at(p)] < 0) {
                    positions[at(p)] = place_before;
                    next.push_back(p);
                }
            }
    } else {
        for (int32_t p : before)
            for (int64_t e = side.start[at(p)]; e < side.start[at(p) + 1]; ++e)
                if (positions[at(side.keys[static_cast<size_t>(e)])] == place) {
                    positions[at(p)] = place_before;
                    next.push_back(p);
                    break;
                }
    }
    marked.swap(next);
}

// Marks every key on a shortest path with its place on it (0 at `from`,
// hops at `to`): the ends of the joining edges, then back along the
// forward layers and on along the backward ones.
void mark_positions(const path_index& ix, search_space& space, const search_side& forward,
                    const search_side& backward, const std::vector<meeting_edge>& meets,
                    int32_t hops) {
    std::vector<int32_t> near;
    std::vector<int32_t> far;
    for (const meeting_edge& m : meets) {
        if (space.position[at(m.near)] < 0) {
            space.position[at(m.near)] = forward.layer;
            near.push_back(m.near);
        }
        if (space.position[at(m.far)] < 0) {
            space.position[at(m.far)] = forward.layer + 1;
            far.push_back(m.far);
        }
    }
    std::vector<int32_t> next;
    for (int32_t layer = forward.layer; layer > 0; --layer)
        mark_layer_before(forward, ix.signers_start, ix.signers_keys, layer, layer, layer - 1,
                          space.position, near, next);
    for (int32_t layer = backward.layer; layer > 0; --layer)
        mark_layer_before(backward, ix.signs_start, ix.signs_keys, layer, hops - layer,
                          hops - (layer - 1), space.position, far, next);
}

// Walks the marked keys depth first, each key's successors in ascending id
// order, so the paths come out in ascending order of their id sequences.
// Every marked successor one place further lies on a shortest path, so the
// walk never runs into a dead end.
void list_paths(const path_index& ix, const search_space& space, int32_t from, int32_t hops,
                int32_t limit, path_answer& answer) {
    std::vector<int32_t> path{from};
    std::vector<int64_t> cursor{ix.signs_start[at(from)]};
    while (!path.empty() && static_cast<int32_t>(answer.paths.size()) < limit) {
        auto place = static_cast<int32_t>(path.size()) - 1;
        if (place == hops) {
            answer.paths.push_back(path);
            path.pop_back();
            cursor.pop_back();
            continue;
        }
        int32_t u = path.back();
        int64_t edge = cursor.back();
        int64_t end = ix.signs_start[at(u) + 1];
        while (edge < end &&
               space.position[at(ix.signs_keys[static_cast<size_t>(edge)])] != place + 1)
            ++edge;
        if (edge == end) {
            path.pop_back();
            cursor.pop_back();
            continue;
        }
        cursor.back() = edge + 1;
        int32_t w = ix.signs_keys[static_cast<size_t>(edge)];
        path.push_back(w);
        cursor.push_back(ix.signs_start[at(w)]);
    }
}

void reset_shortest(search_space& space) {
    for (int32_t k : space.touched) {
        space.dist_from[at(k)] = -1;
        space.dist_to[at(k)] = -1;
        space.position[at(k)] = -1;
    }
    space.touched.clear();
}

// Disjoint paths ------------------------------------------------------------
//
// Menger: the number of paths that share no key but their ends is the
// maximum flow from `from` to `to` when every other key can carry one unit.
// Each such key k is split into an entry node 2k and an exit node 2k + 1
// joined by an arc of capacity 1; a signature u -> w is an arc from 2u + 1
// to 2w, also of capacity 1 (there is at most one per pair, so a direct
// signature is one path). The flow is held per key: flow_prev[w] is the key
// whose flow enters w, flow_next[u] the key u passes it on to.

constexpr int32_t UNSEEN = -2;
constexpr int32_t ROOT = -1;

struct flow_ends {
    int32_t from;
    int32_t to;
    bool direct = false; // flow on a signature from `from` straight to `to`
};

bool carries_flow(const search_space& space, int32_t k) {
    return space.flow_next[at(k)] != -1;
}

bool edge_has_flow(const search_space& space, const flow_ends& ends, int32_t u, int32_t w) {
    if (w == ends.to) return u == ends.from ? ends.direct : space.flow_next[at(u)] == w;
    return space.flow_prev[at(w)] == u;
}

// The nodes one residual arc away from `node`.
template <typename Visit>
void residual_successors(const path_index& ix, const search_space& space, const flow_ends& ends,
                         int32_t node, Visit visit) {
    int32_t k = node >> 1;
    if ((node & 1) != 0) {
        if (k != ends.from && carries_flow(space, k)) visit(2 * k);
        for (int32_t w : signed_keys(ix, k))
            if (w != ends.from && !edge_has_flow(space, ends, k, w)) visit(2 * w);
    } else if (!carries_flow(space, k)) {
        visit(2 * k + 1);
    } else {
        visit(2 * space.flow_prev[at(k)] + 1); // back along the flow into k
    }
}

// The nodes with a residual arc into `node`.
template <typename Visit>
void residual_predecessors(const path_index& ix, const search_space& space, const flow_ends& ends,
                           int32_t node, Visit visit) {
    int32_t k = node >> 1;
    if ((node & 1) == 0) {
        for (int32_t u : signers(ix, k))
            if (u != ends.to && !edge_has_flow(space, ends, u, k)) visit(2 * u + 1);
        if (k != ends.to && carries_flow(space, k)) visit(2 * k + 1);
    } else if (!carries_flow(space, k)) {
        visit(2 * k);
    } else if (space.flow_next[at(k)] != ends.to) {
        visit(2 * space.flow_next[at(k)]); // back along the flow out of k
    }
}

void add_flow(search_space& space, flow_ends& ends, int32_t u, int32_t w) {
    space.flow_touched.push_back(u);
    space.flow_touched.push_back(w);
    if (w == ends.to) {
        if (u == ends.from)
            ends.direct = true;
        else
            space.flow_next[at(u)] = w;
        return;
    }
    space.flow_prev[at(w)] = u;
    if (u != ends.from) space.flow_next[at(u)] = w;
}

void cancel_flow(search_space& space, const flow_ends& ends, int32_t u, int32_t w) {
    space.flow_prev[at(w)] = -1; // w is never `to`: no residual path leaves `to`
    if (u != ends.from) space.flow_next[at(u)] = -1;
}

// Moves one unit of flow along the node path: cancelled arcs first, so that
// a key whose flow is rerouted ends with its new neighbours.
void augment_along(search_space& space, flow_ends& ends, const std::vector<int32_t>& nodes) {
    for (size_t i = 0; i + 1 < nodes.size(); ++i)
        if ((nodes[i] >> 1) != (nodes[i + 1] >> 1) && (nodes[i] & 1) == 0)
            cancel_flow(space, ends, nodes[i + 1] >> 1, nodes[i] >> 1);
    for (size_t i = 0; i + 1 < nodes.size(); ++i)
        if ((nodes[i] >> 1) != (nodes[i + 1] >> 1) && (nodes[i] & 1) == 1)
            add_flow(space, ends, nodes[i] >> 1, nodes[i + 1] >> 1);
}

// About how many arcs expanding a frontier of the residual search follows:
// an exit node forward (an entry node backward) leads along the key's
// signatures, the other node to one place only.
int64_t residual_work(const path_index& ix, const std::vector<int32_t>& frontier, bool forward) {
    int64_t work = 0;
    for (int32_t node : frontier) {
        int32_t k = node >> 1;
        bool leads_along_signatures = ((node & 1) != 0) == forward;
        work += 1 + (!leads_along_signatures ? 0
                     : forward               ? ix.signs_start[at(k) + 1] - ix.signs_start[at(k)]
                               : ix.signers_start[at(k) + 1] - ix.signers_start[at(k)]);
    }
    return work;
}

// One augmenting path by a bidirectional breadth-first search of the
// residual graph, expanding the smaller frontier; returns false when none
// is left (the flow is then the maximum).
bool augment(const path_index& ix, search_space& space, flow_ends& ends) {
    int32_t source = 2 * ends.from + 1;
    int32_t sink = 2 * ends.to;
    space.parent_from[at(source)] = ROOT;
    space.parent_to[at(sink)] = ROOT;
    space.node_touched.push_back(source);
    space.node_touched.push_back(sink);
    std::vector<int32_t> front{source};
    std::vector<int32_t> back{sink};
    std::vector<int32_t> next;
    int32_t meet = -1;
    while (meet < 0) {
        // The frontier with fewer arcs to follow; an empty one ends the
        // search without a path.
        bool forward = front.empty() || (!back.empty() && residual_work(ix, front, true) <=
                                                              residual_work(ix, back, false));
        std::vector<int32_t>& frontier = forward ? front : back;
        if (frontier.empty()) break;
        std::vector<int32_t>& parent = forward ? space.parent_from : space.parent_to;
        const std::vector<int32_t>& other = forward ? space.parent_to : space.parent_from;
        next.clear();
        for (int32_t x : frontier) {
            auto visit = [&](int32_t y) {
                if (meet >= 0 || parent[at(y)] != UNSEEN) return;
                parent[at(y)] = x;
                space.node_touched.push_back(y);
                if (other[at(y)] != UNSEEN)
                    meet = y;
                else
                    next.push_back(y);
            };
            if (forward)
                residual_successors(ix, space, ends, x, visit);
            else
                residual_predecessors(ix, space, ends, x, visit);
            if (meet >= 0) break;
        }
        frontier.swap(next);
    }
    if (meet >= 0) {
        std::vector<int32_t> nodes;
        for (int32_t x = meet; x != ROOT; x = space.parent_from[at(x)])
            nodes.push_back(x);
        std::reverse(nodes.begin(), nodes.end());
        for (int32_t x = space.parent_to[at(meet)]; x != ROOT; x = space.parent_to[at(x)])
            nodes.push_back(x);
        augment_along(space, ends, nodes);
    }
    for (int32_t node : space.node_touched) {
        space.parent_from[at(node)] = UNSEEN;
        space.parent_to[at(node)] = UNSEEN;
    }
    space.node_touched.clear();
    return meet >= 0;
}

} // namespace

search_space make_search_space(int32_t key_count) {
    search_space space;
    auto n = static_cast<size_t>(key_count);
    space.dist_from.assign(n, -1);
    space.dist_to.assign(n, -1);
    space.count_from.assign(n, 0);
    space.count_to.assign(n, 0);
    space.position.assign(n, -1);
    space.flow_prev.assign(n, -1);
    space.flow_next.assign(n, -1);
    space.parent_from.assign(2 * n, UNSEEN);
    space.parent_to.assign(2 * n, UNSEEN);
    return space;
}

void find_shortest_paths(const path_index& ix, search_space& space, int32_t from, int32_t to,
                         int32_t path_limit, path_answer& answer) {
    answer.hops = -1;
    answer.paths_total = 0;
    answer.paths_saturated = false;
    answer.paths.clear();
    if (from == to) {
        answer.hops = 0;
        answer.paths_total = 1;
        if (path_limit > 0) answer.paths.push_back({from});
        return;
    }
    search_side forward{
        ix.signs_start, ix.signs_keys, space.dist_from, space.count_from, {from}, 0, {from}, {0}};
    search_side backward{
        ix.signers_start, ix.signers_keys, space.dist_to, space.count_to, {to}, 0, {to}, {0}};
    space.dist_from[at(from)] = 0;
    space.count_from[at(from)] = 1;
    space.dist_to[at(to)] = 0;
    space.count_to[at(to)] = 1;
    space.touched.push_back(from);
    space.touched.push_back(to);

    std::vector<int32_t> next;
    std::vector<meeting_edge> meets;
    uint64_t total = 0;
    bool met = false;
    while (!met && !forward.frontier.empty() && !backward.frontier.empty()) {
        if (degree_sum(forward.start, forward.frontier) <=
            degree_sum(backward.start, backward.frontier))
            met = expand_layer(forward, backward, true, next, space.touched, total, meets);
        else
            met = expand_layer(backward, forward, false, next, space.touched, total, meets);
    }
    if (met) {
        answer.hops = forward.layer + backward.layer + 1;
        answer.paths_total = total;
        answer.paths_saturated = total == PATH_COUNT_MAX;
        if (path_limit > 0) {
            mark_positions(ix, space, forward, backward, meets, answer.hops);
            list_paths(ix, space, from, answer.hops, path_limit, answer);
        }
    }
    reset_shortest(space);
}

void count_disjoint_paths(const path_index& ix, search_space& space, int32_t from, int32_t to,
                          int32_t limit, path_answer& answer) {
    answer.disjoint_at_least = false;
    if (from == to) {
        answer.disjoint = 1;
        return;
    }
    // No more paths than signatures leaving `from` or reaching `to`.
    auto bound =
        static_cast<int64_t>(std::min(signed_keys(ix, from).size(), signers(ix, to).size()));
    int64_t cap = std::min<int64_t>(limit, bound);
    flow_ends ends{from, to};
    int32_t flow = 0;
    answer.out_of_time = false;
    while (flow < cap) {
        if (std::chrono::steady_clock::now() >= space.deadline) {
            answer.out_of_time = true;
            break;
        }
        if (!augment(ix, space, ends)) break;
        ++flow;
    }
    for (int32_t k : space.flow_touched) {
        space.flow_prev[at(k)] = -1;
        space.flow_next[at(k)] = -1;
    }
    space.flow_touched.clear();
    answer.disjoint = flow;
    answer.disjoint_at_least = flow == limit && bound > limit;
}

path_answer answer_query(const path_index& ix, search_space& space, int32_t from, int32_t to,
                         int32_t path_limit, int32_t disjoint_limit) {
    path_answer answer;
    find_shortest_paths(ix, space, from, to, path_limit, answer);
    if (answer.hops >= 0) {
        count_disjoint_paths(ix, space, from, to, disjoint_limit, answer);
    }
    return answer;
}
