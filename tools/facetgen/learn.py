"""Learns the four classifier polytopes from the detector's own block features.

Examples come from `vireo-detect --features` tables of labelled clips: a block
of a bleeding frame whose centre lies inside the frame's box is a bleeding
example, every block of a frame without bleeding is a negative one, the other
blocks of bleeding frames are left out. Frames count, not blocks: the detector
reports a frame when any of its 48 blocks lies inside a region.

Everything is worked out in box-normalised coordinates u = (x - lo) / (hi - lo)
of the Part's bounds, so that inputs of very different scales weigh alike. A
region is the starting polytope P0 (the bounds and the fixed facets) cut by
half-spaces w.u <= t with unit w. Every region keeps its anchors strictly
inside: the example points that must be inside and one point on each fixed
facet, so that the fixed facets keep touching the region.

Blood1 and Blood2 are cut together, greedily: each step takes the cut (from a
fixed grid of directions, over both regions) that removes the most frames
without bleeding from Blood1|Blood2 for the fewest bleeding frames lost. A
frame weighs 1 / sqrt(n) where n is the length of its run of near-identical
neighbouring frames, so that one long run of the same view does not decide a
cut alone. A cut must gain at least MIN_GAIN frames, which keeps the regions
to a few broad cuts that hold on frames not seen; cuts are placed midway
between the last example cut off and the next one kept. How dear a lost
bleeding frame is (the operating point) is chosen by cross-validation on the
learning frames alone. The remaining facets shave the region's corners
farthest from the bleeding examples, where no example lies.

Ulcer1 and Ulcer2 have no positive examples: each becomes the rounded body
around its anchors (their hull grown by a radius r), described by tangent
planes over a grid of directions; r is the largest of a fixed ladder of radii
at which the body holds no example block at all.

Determinism: the grids, the ladders and the order of every choice are fixed,
ties are broken by index, and the linear programmes are solved by HiGHS, so
the same examples give the same tables byte for byte.
"""

import csv
import math
import re

import numpy as np
from scipy.optimize import linprog

MARGIN = 0.02        # anchors stay this far (normalised) inside every other facet
MIN_GAIN = 4.0       # weighted frames a bleeding cut must gain to be taken
MISS_COSTS = (1.0, 1.5, 2.0, 3.0)  # weights of a lost bleeding frame to choose from
SAME_VIEW = 0.6      # neighbouring frames closer than this (RMS of standardised features) are one run
SHAVE_DEPTH = 0.05   # corner shaving: share of the corner's distance to the core
MIN_SHAVE = 0.001    # the shallowest shave, as the same share


# ---------------------------------------------------------------- examples


class Examples:
    """Feature rows of labelled frames: X (rows x 13 slots), the row's frame
    (a global index), per frame whether it shows bleeding, the group it is
    held out with in cross-validation and its weight."""

    SLOTS = [0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 17, 18, 19]

    def __init__(self, feature_paths, label_paths, normal_clips):
        kinds, boxes, sources = {}, {}, {}
        for path in label_paths:
            with open(path, newline="") as f:
                for row in csv.DictReader(f):
                    key = (row["clip"], int(row["frame"]))
                    kinds[key] = row["class"].lower()
                    sources[key] = row.get("source") or ""
                    if row.get("x0"):
                        boxes[key] = tuple(int(row[c]) for c in ("x0", "y0", "x1", "y1"))
        x, frame_of, in_box, frames = [], [], [], {}
        self.frame_keys, self.frame_bleeding = [], []
        for path in feature_paths:
            with open(path, newline="") as f:
                reader = csv.reader(f)
                header = next(reader)
                at = {name: i for i, name in enumerate(header)}
                slot_columns = [at[f"slot{s}"] for s in self.SLOTS]
                for row in reader:
                    key = (row[at["clip"]], int(row[at["frame"]]))
                    kind = "normal" if key[0] in normal_clips else kinds.get(key)
                    if kind not in ("bleeding", "nonbleeding", "normal"):
                        continue
                    if key not in frames:
                        frames[key] = len(self.frame_keys)
                        self.frame_keys.append(key)
                        self.frame_bleeding.append(kind == "bleeding")
                    cx, cy = int(row[at["centre_x"]]), int(row[at["centre_y"]])
                    box = boxes.get(key)
                    x.append([float(row[c]) for c in slot_columns])
                    frame_of.append(frames[key])
                    in_box.append(box is not None and box[0] <= cx < box[2] and box[1] <= cy < box[3])
        order = np.argsort(np.array(frame_of), kind="stable")
        self.x = np.array(x)[order]
        self.frame = np.array(frame_of, dtype=np.int64)[order]
        self.in_box = np.array(in_box, dtype=bool)[order]
        self.frame_bleeding = np.array(self.frame_bleeding, dtype=bool)
        self.frame_group = np.array([source_group(k, sources.get(k, "")) for k in self.frame_keys], dtype=object)
        self.frame_weight = run_weights(self.x, self.frame, self.frame_keys)

    def subset(self, frame_mask):
        """The examples of the frames where `frame_mask` is set."""
        out = Examples.__new__(Examples)
        keep = frame_mask[self.frame]
        renumber = np.cumsum(frame_mask) - 1
        out.x, out.in_box = self.x[keep], self.in_box[keep]
        out.frame = renumber[self.frame[keep]]
        out.frame_bleeding = self.frame_bleeding[frame_mask]
        out.frame_group = self.frame_group[frame_mask]
        out.frame_weight = self.frame_weight[frame_mask]
        out.frame_keys = [k for k, m in zip(self.frame_keys, frame_mask) if m]
        return out

    def columns(self, slots):
        return self.x[:, [self.SLOTS.index(s) for s in slots]]


SOURCE_BLOCK = 100   # frames of the source set that are held out together
RUN_LENGTH = 50      # neighbouring frames of a clip held out together otherwise


def source_group(key, source):
    """The cross-validation group of a frame: its block of SOURCE_BLOCK
    consecutive frame numbers of the source set (1-based, the number at the
    end of the label's source name), the way the set's other half is kept
    aside; else its run of RUN_LENGTH neighbouring frames of its clip."""
    match = re.search(r"(\d+)\D*$", source)
    if match:
        return f"source#{(int(match.group(1)) - 1) // SOURCE_BLOCK}"
    return f"{key[0]}#{key[1] // RUN_LENGTH}"


def run_weights(x, frame, keys):
    """1 / sqrt(n) per frame, n the length of its run of near-identical
    neighbouring frames of one clip: frames whose 48 blocks differ by less
    than SAME_VIEW (RMS over the standardised slots) from the frame before."""
    count = len(keys)
    spread = x.std(axis=0)
    z = (x - x.mean(axis=0)) / np.where(spread > 0, spread, 1.0)
    rows = np.bincount(frame, minlength=count)
    start = np.concatenate([[0], np.cumsum(rows)[:-1]])
    run = np.zeros(count, dtype=np.int64)
    for i in range(1, count):
        same = keys[i][0] == keys[i - 1][0] and rows[i] == rows[i - 1]
        if same:
            a = z[start[i]:start[i] + rows[i]]
            b = z[start[i - 1]:start[i - 1] + rows[i - 1]]
            same = math.sqrt(float(((a - b) ** 2).mean())) < SAME_VIEW
        run[i] = run[i - 1] + (0 if same else 1)
    return 1.0 / np.sqrt(np.bincount(run)[run])


# ---------------------------------------------------------------- geometry


class Space:
    """Box-normalised coordinates of one classifier and its starting polytope."""

    def __init__(self, lo, hi, fixed, inside_points):
        self.lo = np.array([float(v) for v in lo])
        self.hi = np.array([float(v) for v in hi])
        self.scale = self.hi - self.lo
        self.dim = len(lo)
        # fixed facets n.x + d <= 0 as w.u <= t
        self.fixed = [self.to_u(np.array([float(v) for v in n]), float(d)) for n, d in fixed]
        self.box = []
        for j in range(self.dim):
            for sign in (-1.0, 1.0):
                w = np.zeros(self.dim)
                w[j] = sign
                self.box.append((w, 0.0 if sign < 0 else 1.0))
        self.inside = [self.u(np.array([float(v) for v in p])) for p in inside_points]

    def u(self, x):
        return (x - self.lo) / self.scale

    def to_u(self, n, d):
        w = n * self.scale
        length = np.linalg.norm(w)
        return w / length, -(d + n @ self.lo) / length

    def to_x(self, w, t):
        """w.u <= t as a unit normal n and offset d of n.x + d <= 0."""
        n = w / self.scale
        length = np.linalg.norm(n)
        return n / length, (-t - n @ self.lo) / length


def directions(dim, steps):
    """Unit directions through a regular grid on the cube's surface, in a fixed order."""
    values = [-1 + 2 * k / steps for k in range(steps + 1)]
    out = []

    def rec(prefix):
        if len(prefix) == dim:
            if any(abs(v) == 1 for v in prefix):
                out.append(prefix)
            return
        for v in values:
            rec(prefix + [v])

    rec([])
    w = np.array(out)
    return w / np.linalg.norm(w, axis=1)[:, None]


def inside_mask(points, planes, slack=0.0):
    mask = np.ones(len(points), dtype=bool)
    for w, t in planes:
        mask &= points @ w <= t + slack
    return mask


def touch_point(space, facet, others, core):
    """A point on `facet` strictly inside every other plane, nearest (L1) the core."""
    dim = space.dim
    w_f, t_f = facet
    # variables: u (dim), e (dim) >= |u - core|
    c = np.concatenate([np.zeros(dim), np.ones(dim)])
    a_ub, b_ub = [], []
    for w, t in others:
        a_ub.append(np.concatenate([w, np.zeros(dim)]))
        b_ub.append(t - MARGIN)
    for j in range(dim):
        row = np.zeros(2 * dim)
        row[j], row[dim + j] = 1, -1
        a_ub.append(row)
        b_ub.append(core[j])
        row = np.zeros(2 * dim)
        row[j], row[dim + j] = -1, -1
        a_ub.append(row)
        b_ub.append(-core[j])
    result = linprog(c, A_ub=np.array(a_ub), b_ub=np.array(b_ub),
                     A_eq=np.array([np.concatenate([w_f, np.zeros(dim)])]), b_eq=np.array([t_f]),
                     bounds=[(None, None)] * (2 * dim), method="highs")
    if result.status != 0:
        raise SystemExit(f"no point of a fixed facet lies inside the other facets: {result.message}")
    return result.x[:dim]


def anchors_of(space, core):
    planes = space.fixed + space.box
    points = list(space.inside)
    for i, facet in enumerate(space.fixed):
        others = [p for k, p in enumerate(planes) if k != i and not same_plane(p, facet)]
        points.append(touch_point(space, facet, others, core))
    return np.array(points)


def same_plane(a, b):
    return np.allclose(a[0], b[0], atol=1e-9) and abs(a[1] - b[1]) < 1e-9


def starting_planes(space):
    """P0: the fixed facets, then the box faces that are not fixed facets."""
    return list(space.fixed) + [b for b in space.box if not any(same_plane(b, f) for f in space.fixed)]


def nonredundant(planes, keep_first, witnesses=None):
    """Drops planes (after the first `keep_first`) that do not touch the
    region of all the others; returns the planes kept. `witnesses` (one per
    plane, or None) holds for each plane a point of the others' region beyond
    it from an earlier call; a plane whose point still lies in that region
    is kept without a linear programme. The list is updated in place."""
    planes = list(planes)
    if witnesses is None:
        witnesses = [None] * len(planes)
    i = len(planes) - 1
    while i >= keep_first:
        w, t = planes[i]
        others = planes[:i] + planes[i + 1:]
        point = witnesses[i]
        if point is not None and w @ point > t + 1e-6 and all(p[0] @ point <= p[1] + 1e-9 for p in others):
            i -= 1
            continue
        result = linprog(-w, A_ub=np.array([p[0] for p in others]), b_ub=np.array([p[1] for p in others]),
                         bounds=[(None, None)] * len(w), method="highs")
        if result.status == 0 and -result.fun <= t + 1e-7:
            del planes[i]
            del witnesses[i]
        else:
            witnesses[i] = result.x if result.status == 0 else None
        i -= 1
    return planes


def vertices(planes, interior):
    from scipy.spatial import HalfspaceIntersection
    halfspaces = np.array([np.concatenate([w, [-t]]) for w, t in planes])
    return HalfspaceIntersection(halfspaces, interior).intersections


def chebyshev_centre(planes):
    dim = len(planes[0][0])
    c = np.zeros(dim + 1)
    c[-1] = -1
    a = np.array([np.concatenate([w, [np.linalg.norm(w)]]) for w, _ in planes])
    b = np.array([t for _, t in planes])
    result = linprog(c, A_ub=a, b_ub=b, bounds=[(None, None)] * dim + [(0, None)], method="highs")
    return result.x[:dim]


def shave_plane(planes, v, core, distance, anchors, kept):
    """A plane cutting off corner `v`, as deep as SHAVE_DEPTH allows while
    every kept point stays inside and every anchor MARGIN / 4 inside; its
    normal points from the core to the corner or, failing that, along the
    mean normal of the corner's facets. None when neither cuts at least
    MIN_SHAVE deep."""
    incident = [w for w, t in planes if abs(w @ v - t) < 1e-7]
    for w in [v - core] + ([np.sum(incident, axis=0)] if incident else []):
        w = w / np.linalg.norm(w)
        t = max(w @ v - SHAVE_DEPTH * distance, (anchors @ w).max() + MARGIN / 4,
                (kept @ w).max(initial=-np.inf) + 1e-6)
        if t < w @ v - MIN_SHAVE * distance:
            return w, t
    return None


def shave_corners(planes, count, keep_first, anchors, core, kept=()):
    """Adds planes that cut off the region's corners farthest from the core
    until the table holds `count` planes; a shave that leaves an earlier
    facet no longer touching the region drops that facet. The `kept` points
    (the example blocks the region holds) stay inside, so that shaving never
    changes which learning frames are flagged."""
    kept = np.asarray(kept).reshape(-1, len(core))
    planes = list(planes)
    witnesses = [None] * len(planes)
    while len(planes) < count:
        corners = vertices(planes, chebyshev_centre(planes))
        distance = np.linalg.norm(corners - core, axis=1)
        for k in np.argsort(-distance, kind="stable"):
            cut = shave_plane(planes, corners[k], core, distance[k], anchors, kept)
            if cut is not None:
                planes.append(cut)
                witnesses.append(None)
                break
        else:
            raise SystemExit("no corner left to shave")
        planes = nonredundant(planes, keep_first, witnesses)
    return planes


# ---------------------------------------------------------------- bleeding


class Region:
    def __init__(self, name, space, slots, count, anchors):
        self.name, self.space, self.slots, self.count = name, space, slots, count
        self.anchors = anchors
        self.planes = starting_planes(space)
        self.fixed_count = len(space.fixed)

    def copy(self):
        out = Region(self.name, self.space, self.slots, self.count, self.anchors)
        out.planes = list(self.planes)
        return out


def frame_min(values, frames, count):
    """Per frame the smallest row of `values` (rows x columns) over its
    blocks, inf for frames without a row; `frames` is ascending, as the
    examples keep it."""
    out = np.full((count,) + values.shape[1:], np.inf)
    if len(frames):
        starts = np.flatnonzero(np.r_[True, frames[1:] != frames[:-1]])
        out[frames[starts]] = np.minimum.reduceat(values, starts, axis=0)
    return out


def bleeding_cuts(regions, examples, grid, miss_cost):
    """Greedy joint cuts of the Blood1 and Blood2 regions (see module text);
    appends them to the regions' planes."""
    frames = len(examples.frame_bleeding)
    bleeding = examples.frame_bleeding
    u = [r.space.u(examples.columns(r.slots)) for r in regions]
    # examples of each region: bleeding blocks in their box, every block of other frames
    usable = ~bleeding[examples.frame] | examples.in_box
    weight = np.where(bleeding, -miss_cost, 1.0) * examples.frame_weight
    inside = [inside_mask(u[i], r.planes) & usable for i, r in enumerate(regions)]
    while True:
        flagged = [np.bincount(examples.frame[m], minlength=frames) > 0 for m in inside]
        best = None
        for i, r in enumerate(regions):
            if len(r.planes) >= r.count:
                continue
            other = flagged[1 - i] if len(regions) == 2 else np.zeros(frames, bool)
            m = inside[i]
            if not m.any():
                continue
            proj = u[i][m] @ grid.T                      # blocks x directions
            floor = (r.anchors @ grid.T).max(axis=0) + MARGIN
            # a frame leaves (or loses its finding) when the cut passes below
            # all its blocks inside: key = min projection over them
            key = frame_min(proj, examples.frame[m], frames)
            weight_frame = np.where(flagged[i] & ~other, weight, 0.0)
            for k in range(len(grid)):
                kf = key[:, k]
                sel = np.isfinite(kf) & (weight_frame != 0)
                values, weights = kf[sel], weight_frame[sel]
                order = np.argsort(-values, kind="stable")
                values, gains = values[order], np.cumsum(weights[order])
                # a cut below values[j] and above values[j+1]
                nxt = np.append(values[1:], -np.inf)
                ok = (values > floor[k]) & (nxt < values)
                if not ok.any():
                    continue
                j = int(np.argmax(np.where(ok, gains, -np.inf)))
                if gains[j] < MIN_GAIN or (best is not None and gains[j] <= best[0]):
                    continue
                t = (values[j] + max(nxt[j], floor[k])) / 2
                best = (gains[j], i, grid[k].copy(), float(t))
        if best is None:
            break
        _, i, w, t = best
        regions[i].planes.append((w, t))
        inside[i] &= u[i] @ w <= t
    for r in regions:
        r.planes = nonredundant(r.planes, r.fixed_count)


def bleeding_flags(regions, examples):
    """Per frame whether any of `regions` flags it (any block, as the detector does)."""
    frames = len(examples.frame_bleeding)
    found = np.zeros(frames, dtype=bool)
    for r in regions:
        m = inside_mask(r.space.u(examples.columns(r.slots)), r.planes)
        found |= np.bincount(examples.frame[m], minlength=frames) > 0
    return found


def choose_miss_cost(regions, examples, grid):
    """The operating point, chosen on `examples` alone: each cost of
    MISS_COSTS is tried in a cross-validation over the examples' groups, and
    the one with the largest share of bleeding frames found less share of
    frames without bleeding flagged wins (the first on a tie). Returns the
    cost and the figures per cost."""
    groups = list(dict.fromkeys(examples.frame_group))
    bleeding = examples.frame_bleeding
    figures = []
    for cost in MISS_COSTS:
        found = np.zeros(len(bleeding), dtype=bool)
        for g in groups:
            held = examples.frame_group == g
            if held.all():
                continue
            trial = [r.copy() for r in regions]
            bleeding_cuts(trial, examples.subset(~held), grid, cost)
            found[held] = bleeding_flags(trial, examples.subset(held))
        figures.append((cost, (found & bleeding).sum() / max(bleeding.sum(), 1),
                        (found & ~bleeding).sum() / max((~bleeding).sum(), 1)))
    pick = max(figures, key=lambda f: f[1] - f[2])
    return pick[0], figures


def learn_bleeding(regions, examples, grid):
    """Cuts at the operating point chosen on the examples, then corner shaving;
    the regions keep the chosen cost as `miss_cost` and the frames their cuts
    alone flag as `cut_flags`."""
    cost, _ = choose_miss_cost(regions, examples, grid)
    bleeding_cuts(regions, examples, grid, cost)
    for r in regions:
        r.miss_cost = cost
        r.cut_flags = bleeding_flags([r], examples)
        u = r.space.u(examples.columns(r.slots))
        core = bleeding_core(r, u, examples.in_box)
        blocks = u[inside_mask(u, r.planes)]
        r.planes = shave_corners(r.planes, r.count, r.fixed_count, r.anchors, core, blocks)


def bleeding_core(region, u, positive_block):
    m = inside_mask(u, region.planes) & positive_block
    if m.sum() >= 1:
        return np.median(u[m], axis=0)
    return chebyshev_centre(region.planes)


# ---------------------------------------------------------------- ulcers


RADII = [0.2, 0.15, 0.12, 0.1, 0.08, 0.06, 0.05, 0.04, 0.03, 0.025, 0.02, 0.015, 0.01]


def learn_silent(region, examples, grid):
    """The rounded body around the anchors, as large as leaves every example out."""
    u = region.space.u(examples.columns(region.slots))
    u = u[inside_mask(u, region.planes)]
    fixed = starting_planes(region.space)
    free = region.count - len(fixed)
    products = region.anchors @ grid.T
    support = products.max(axis=0)
    touching = products.argmax(axis=0)
    chosen = RADII[-1]
    for r in RADII:
        planes = fixed + [(grid[k], support[k] + r) for k in range(len(grid))]
        if not inside_mask(u, planes).any():
            chosen = r
            break
    # The body is smooth, so a tangent plane touches the region exactly when
    # its point of contact lies strictly inside the fixed facets and the box;
    # a box face counts when the body reaches beyond it.
    fixed_count = len(region.space.fixed)
    tangents = []
    for k in range(len(grid)):
        contact = region.anchors[touching[k]] + chosen * grid[k]
        if all(w @ contact < t - 1e-6 for w, t in fixed):
            tangents.append((grid[k], support[k] + chosen))
    box_kept = [(w, t) for w, t in fixed[fixed_count:]
                if (region.anchors @ w).max() + chosen > t + 1e-6]
    need = region.count - fixed_count - len(box_kept)
    if len(tangents) < need:
        raise SystemExit(f"{region.name}: only {len(tangents)} tangent planes for {need} facets")
    picked = farthest(tangents, need)
    region.planes = list(region.space.fixed) + box_kept + picked
    region.planes = nonredundant(region.planes, fixed_count)
    core = region.anchors.mean(axis=0)
    region.planes = shave_corners(region.planes, region.count, fixed_count, region.anchors, core)
    region.radius = chosen


def farthest(planes, count):
    """Deterministic spread of normals: farthest-point sampling from the first."""
    normals = np.array([w for w, _ in planes])
    chosen = [0]
    dist = np.linalg.norm(normals - normals[0], axis=1)
    while len(chosen) < count:
        k = int(np.argmax(dist))
        chosen.append(k)
        dist = np.minimum(dist, np.linalg.norm(normals - normals[k], axis=1))
    return [planes[k] for k in sorted(chosen)]


# ---------------------------------------------------------------- whole


def learn(specs, examples):
    """Regions of every classifier spec, learned from `examples`; returns
    {name: [(normal, offset) in feature units, in table order without the
    fixed rows' numbers applied]} plus the regions themselves."""
    regions = {}
    for spec in specs:
        lo, hi = spec["box"]
        space = Space(lo, hi, list(spec["fixed"].values()), spec["inside"])
        slots = spec["slots"]
        if spec["learn"] == "bleeding":
            u = space.u(examples.columns(slots))
            m = inside_mask(u, starting_planes(space)) & examples.in_box
            core = np.median(u[m], axis=0) if m.any() else np.mean(space.inside, axis=0)
        else:
            core = np.mean(space.inside, axis=0)
        regions[spec["name"]] = Region(spec["name"], space, slots, spec["count"], anchors_of(space, core))
    bleeding = [regions[s["name"]] for s in specs if s["learn"] == "bleeding"]
    learn_bleeding(bleeding, examples, directions(3, 8))
    for spec in specs:
        if spec["learn"] == "silent":
            dim = len(spec["bounds"])
            learn_silent(regions[spec["name"]], examples, directions(dim, {3: 12, 4: 6}[dim]))
    return regions


def region_table(region):
    """(normal, offset) in feature units: fixed facets first, the rest after."""
    return [region.space.to_x(np.asarray(w), t) for w, t in region.planes]


def flags(region, x):
    """Inside test of the region on feature rows (float, like the detector)."""
    mask = np.ones(len(x), dtype=bool)
    for n, d in region_table(region):
        mask &= x @ n + d <= 0
    return mask
