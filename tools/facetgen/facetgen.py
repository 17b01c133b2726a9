#!/usr/bin/env python3
"""Generates the facet tables of the four pathology classifiers and checks them.

    facetgen.py OUTPUT.cpp          write the tables
    facetgen.py --check TABLES.cpp  regenerate, compare with TABLES.cpp and run
                                    the exact checks on the tables it holds

Each region is a box cut by three kinds of facets:

* the fixed facets, which the detector's decision depends on by number;
* the box faces, one per end of every input's range, so that the region's
  extent along each input is exactly its stated bound (a fixed facet that is
  itself a box face takes that face's place);
* tangent planes of a superellipsoid  sum |u_j|^p = s^p  in box-normalised
  coordinates u_j = (x_j - centre_j) / halfwidth_j, with p = 4 and s a little
  above 1. That body contains the centre of every box face, so every face
  keeps a part, and it rounds off the box's edges and corners. The tangent
  points are taken from a regular grid of directions, kept only where the
  tangent point lies inside the box and strictly inside the fixed facets (a
  facet touching the region there, hence never redundant), and thinned by
  farthest-point sampling to the table's facet count.

Why this shape: the tables must be bounded convex regions with the stated
extents, the fixed facets and only touching facets. Box faces give the
extents exactly; a smooth body clipped to the box gives as many genuine facets
as the count asks for without adding any corner far outside the data the fixed
facets describe; and everything is deterministic (no random numbers), so the
output is reproducible byte for byte.

The checks are exact (rational arithmetic on the printed 12-decimal values):
facet counts, unit normals (to 1e-11), fixed facets at their numbers, extents
rounding to the stated bounds, every facet touching the region (a linear
programme per facet), and the inside/outside example points.
"""

import re
import sys
from fractions import Fraction
from decimal import Decimal

P_EXPONENT = 4
DIGITS = 12


def F(text):
    return Fraction(Decimal(text))


CLASSIFIERS = [
    dict(
        name="Blood1", table="kBlood1Facets", count=52,
        bounds=[("0.00337", "0.590"), ("32.97", "55.75"), ("0.508", "10.85")],
        fixed={
            1: (("-0.999235818696", "0.033490843508", "0.020152965922"), "-1.452109376006"),
            2: (("-0.94741445817", "0.139039204525", "0.288225509031"), "-7.632678109965"),
            52: (("0.995426973021", "-0.019329228646", "-0.093549571364"), "0.686209802226"),
        },
        inside=[("0.147", "40.4", "4.26")],
        outside=[("0.147", "60", "4.26"), ("0", "0", "0")],
        scale="1.15",
    ),
    dict(
        name="Ulcer1", table="kUlcer1Facets", count=46,
        bounds=[("0.2629", "0.5057"), ("149.8", "243.2"), ("146.8", "253.2")],
        fixed={
            1: (("-0.998632917463", "-0.038204061397", "0.035675563794"), "0.697152843581"),
            46: (("-0.999815452814", "0.014134932623", "-0.013010149681"), "-0.028014279894"),
        },
        inside=[("0.373", "195", "190")],
        outside=[("0.373", "100", "190")],
        # a rounder body would cut off the corner near which the fixed facets
        # let input 3 reach its upper bound
        scale="1.22",
    ),
    dict(
        name="Ulcer2", table="kUlcer2Facets", count=182,
        bounds=[("0.8530", "1.0003"), ("0.05366", "0.1909"), ("-0.000583", "0.2540"),
                ("0.3366", "0.7768")],
        fixed={
            1: (("0.659171048159", "-0.007606226206", "-0.73236145102", "0.170535567116"),
                "-0.693560335842"),
            82: (("0", "0", "-1", "0"), "-0.000582972468"),
            182: (("-0.560606341775", "0.742208540302", "0.276884201694", "-0.2412097658"),
                  "0.489019358348"),
        },
        inside=[("0.95", "0.111", "0.0845", "0.494")],
        outside=[("0.5", "0.111", "0.0845", "0.494")],
        scale="1.15",
    ),
    dict(
        name="Blood2", table="kBlood2Facets", count=42,
        bounds=[("192.7", "225.3"), ("-0.00245", "0.2431"), ("133.6", "178.5")],
        fixed={
            1: (("0.006714496287", "-0.999953152994", "-0.006971897644"), "-0.286879249883"),
            8: (("0", "-1", "0"), "-0.002451966766"),
            42: (("0.005296931619", "-0.999951610432", "-0.008289711108"), "0.226180649483"),
        },
        inside=[("207", "0.124", "153")],
        outside=[("150", "0.124", "153")],
        scale="1.15",
    ),
]


# ---------------------------------------------------------------- geometry


def quantise(value):
    """Rounds to the table's 12 decimal places, as an exact fraction."""
    return Fraction(Decimal(repr(float(value))).quantize(Decimal(1).scaleb(-DIGITS)))


def box_of(spec):
    """Exact box (lo, hi) per input; a fixed axis-aligned facet sets its end."""
    lo = [F(a) for a, _ in spec["bounds"]]
    hi = [F(b) for _, b in spec["bounds"]]
    for normal, offset in spec["fixed"].values():
        n = [F(v) for v in normal]
        axes = [j for j, v in enumerate(n) if v != 0]
        if len(axes) == 1:
            j = axes[0]
            if n[j] == -1:
                lo[j] = F(offset)
            elif n[j] == 1:
                hi[j] = -F(offset)
    return lo, hi


def box_facets(lo, hi):
    """(normal, offset) of every box face: lower end then upper end per input."""
    dim = len(lo)
    faces = []
    for j in range(dim):
        n = [Fraction(0)] * dim
        n[j] = Fraction(-1)
        faces.append((tuple(n), lo[j]))
        n = [Fraction(0)] * dim
        n[j] = Fraction(1)
        faces.append((tuple(n), -hi[j]))
    return faces


def direction_grid(dim, steps):
    """Directions through a regular grid on the surface of the cube [-1, 1]^dim."""
    values = [-1 + 2 * k / steps for k in range(steps + 1)]
    seen = set()
    out = []

    def rec(prefix):
        if len(prefix) == dim:
            if any(abs(v) == 1 for v in prefix) and tuple(prefix) not in seen:
                seen.add(tuple(prefix))
                out.append(tuple(prefix))
            return
        for v in values:
            rec(prefix + [v])

    rec([])
    return out


def tangent_candidates(spec, lo, hi, fixed_planes):
    dim = len(lo)
    centre = [float(lo[j] + hi[j]) / 2 for j in range(dim)]
    half = [float(hi[j] - lo[j]) / 2 for j in range(dim)]
    s = float(F(spec["scale"]))
    p = P_EXPONENT
    steps = {3: 48, 4: 10}[dim]
    out = []
    for w in direction_grid(dim, steps):
        norm_p = sum(abs(v) ** p for v in w) ** (1.0 / p)
        u = [s * v / norm_p for v in w]
        if max(abs(v) for v in u) > 0.99:  # tangent point must lie well inside the box
            continue
        x = [centre[j] + half[j] * u[j] for j in range(dim)]
        inner = True
        for n, d in fixed_planes:
            value = sum(float(n[j]) * x[j] for j in range(dim)) + float(d)
            scale = sum(abs(float(n[j])) * half[j] for j in range(dim))
            if value > -0.02 * scale:
                inner = False
                break
        if not inner:
            continue
        grad = [(1 if u[j] >= 0 else -1) * abs(u[j]) ** (p - 1) / half[j] for j in range(dim)]
        length = sum(g * g for g in grad) ** 0.5
        n = [g / length for g in grad]
        out.append((u, n, -sum(n[j] * x[j] for j in range(dim))))
    return out


def farthest_points(candidates, count):
    """Deterministic spread: start at the first candidate, then repeatedly
    take the one farthest (in normalised coordinates) from those chosen."""
    if len(candidates) < count:
        raise SystemExit(f"only {len(candidates)} tangent candidates for {count} facets")
    chosen = [0]
    dist = [sum((a - b) ** 2 for a, b in zip(c[0], candidates[0][0])) for c in candidates]
    while len(chosen) < count:
        k = max(range(len(candidates)), key=lambda i: (dist[i], -i))
        chosen.append(k)
        for i, c in enumerate(candidates):
            dist[i] = min(dist[i], sum((a - b) ** 2 for a, b in zip(c[0], candidates[k][0])))
    return [candidates[i] for i in chosen]


def unit_quantised(n):
    """Rounds a unit normal to 12 decimals, exact zeros and ones kept."""
    return tuple(quantise(v) for v in n)


def build_table(spec):
    dim = len(spec["bounds"])
    lo, hi = box_of(spec)
    fixed = {k: (tuple(F(v) for v in n), F(d)) for k, (n, d) in spec["fixed"].items()}
    fixed_planes = list(fixed.values())
    boxes = [f for f in box_facets(lo, hi) if f not in fixed_planes]
    free = spec["count"] - len(fixed) - len(boxes)
    tangents = farthest_points(tangent_candidates(spec, lo, hi, fixed_planes), free)
    # Tangent planes ordered by the direction of their normals, for a table
    # that reads from one side of the body round to the other.
    tangents.sort(key=lambda t: tuple(-v for v in t[1]))
    rest = boxes + [(unit_quantised(n), quantise(d)) for _, n, d in tangents]
    table = []
    for number in range(1, spec["count"] + 1):
        table.append(fixed[number] if number in fixed else rest.pop(0))
    assert not rest
    return table


# ---------------------------------------------------------------- output


def fmt(value):
    return f"{Decimal(value.numerator) / Decimal(value.denominator):.{DIGITS}f}"


def render(tables):
    lines = [
        "// Facet tables of the four pathology classifiers.",
        "// Generated by tools/facetgen/facetgen.py; do not edit by hand.",
        '#include "ostrel/analysis/classifier.h"',
        "",
        "namespace ostrel {",
    ]
    for spec, table in tables:
        dim = len(spec["bounds"])
        lines.append("")
        lines.append(f"const std::array<Facet<{dim}>, {spec['count']}> {spec['table']} = {{{{")
        for number, (n, d) in enumerate(table, 1):
            normal = ", ".join(fmt(v) for v in n)
            lines.append("    {{{" + normal + "}}, " + fmt(d) + "},  // " + str(number))
        lines.append("}};")
    lines.append("")
    lines.append("}  // namespace ostrel")
    return "\n".join(lines) + "\n"


def parse(text):
    """Tables of a rendered file: name -> list of (normal, offset)."""
    tables = {}
    current = None
    for line in text.splitlines():
        head = re.match(r"const std::array<Facet<\d+>, \d+> (\w+) = ", line)
        row = re.match(r"\s*\{\{\{([^}]*)\}\}, ([-0-9.]+)\},", line)
        if head:
            current = tables.setdefault(head.group(1), [])
        elif row and current is not None:
            current.append((tuple(F(v) for v in row.group(1).split(", ")), F(row.group(2))))
    return tables


# ---------------------------------------------------------------- exact checks


def lp_max(table, c, skip=None):
    """Exact maximum of c.x over {x : n.x + d <= 0 for every facet but `skip`},
    None when unbounded. Solved as the dual  min (-d).y  s.t.  N^T y = c, y >= 0
    by a two-phase tableau simplex with Bland's rule (the region is nonempty:
    the callers check an inside point first)."""
    rows = [(n, -d) for i, (n, d) in enumerate(table) if i != skip]
    dim = len(c)
    m = len(rows)
    # Tableau rows: sum_i n_i[j] y_i (+ artificial_j) = c_j, made c_j >= 0.
    tab = []
    for j in range(dim):
        sign = -1 if c[j] < 0 else 1
        row = [sign * rows[i][0][j] for i in range(m)] + [Fraction(int(k == j)) for k in range(dim)]
        tab.append((row, sign * c[j]))
    basis = [m + j for j in range(dim)]
    cost_phase1 = [Fraction(0)] * m + [Fraction(1)] * dim
    cost_phase2 = [rows[i][1] for i in range(m)] + [None] * dim

    def run(cost, allowed):
        nonlocal tab
        while True:
            cb = [cost[b] for b in basis]
            enter = None
            for k in range(allowed):
                if k in basis:
                    continue
                reduced = cost[k] - sum(cb[r] * tab[r][0][k] for r in range(dim))
                if reduced < 0:
                    enter = k
                    break
            if enter is None:
                return True
            best = None
            for r in range(dim):
                a = tab[r][0][enter]
                if a > 0:
                    ratio = tab[r][1] / a
                    if best is None or ratio < best[0] or (ratio == best[0] and basis[r] < basis[best[1]]):
                        best = (ratio, r)
            if best is None:
                raise ArithmeticError("region is empty")
            r = best[1]
            prow, prhs = tab[r]
            piv = prow[enter]
            prow = [v / piv for v in prow]
            prhs = prhs / piv
            new = []
            for q in range(dim):
                if q == r:
                    new.append((prow, prhs))
                    continue
                row, rhs = tab[q]
                f = row[enter]
                if f == 0:
                    new.append((row, rhs))
                else:
                    new.append(([a - f * b for a, b in zip(row, prow)], rhs - f * prhs))
            tab = new
            basis[r] = enter

    run(cost_phase1, m + dim)
    if sum(tab[r][1] for r in range(dim) if basis[r] >= m) > 0:
        return None  # no dual solution: the primal is unbounded
    for r in range(dim):
        if basis[r] >= m:  # degenerate artificial at zero: drive it out
            for k in range(m):
                if k not in basis and tab[r][0][k] != 0:
                    prow, prhs = tab[r]
                    piv = prow[k]
                    prow = [v / piv for v in prow]
                    prhs = prhs / piv
                    tab = [(prow, prhs) if q == r else
                           ([a - tab[q][0][k] * b for a, b in zip(tab[q][0], prow)],
                            tab[q][1] - tab[q][0][k] * prhs) for q in range(dim)]
                    basis[r] = k
                    break
    run(cost_phase2, m)
    return sum(cost_phase2[basis[r]] * tab[r][1] for r in range(dim))


def inside(table, point):
    return all(sum(a * b for a, b in zip(n, point)) + d <= 0 for n, d in table)


def rounds_to(value, text):
    places = -Decimal(text).as_tuple().exponent
    return Decimal(value.numerator) / Decimal(value.denominator) == Decimal(text) or \
        (Decimal(value.numerator) / Decimal(value.denominator)).quantize(Decimal(1).scaleb(-places)) \
        == Decimal(text)


def check_table(spec, table):
    errors = []
    name = spec["name"]
    dim = len(spec["bounds"])
    if len(table) != spec["count"]:
        errors.append(f"{name}: {len(table)} facets, not {spec['count']}")
    for number, (n, d) in enumerate(table, 1):
        if len(n) != dim:
            errors.append(f"{name} facet {number}: {len(n)} inputs")
        if abs(float(sum(v * v for v in n)) - 1.0) > 1e-11:
            errors.append(f"{name} facet {number}: normal length {float(sum(v * v for v in n)) ** 0.5!r}")
    for number, (n, d) in spec["fixed"].items():
        want = (tuple(F(v) for v in n), F(d))
        if table[number - 1] != want:
            errors.append(f"{name} facet {number} differs from its fixed value")
    for point in spec["inside"]:
        if not inside(table, [F(v) for v in point]):
            errors.append(f"{name}: {point} should be inside")
    for point in spec["outside"]:
        if inside(table, [F(v) for v in point]):
            errors.append(f"{name}: {point} should be outside")
    for j, (low, high) in enumerate(spec["bounds"]):
        e = [Fraction(int(k == j)) for k in range(dim)]
        top = lp_max(table, e)
        bottom = lp_max(table, [-v for v in e])
        if top is None or bottom is None:
            errors.append(f"{name}: unbounded along input {j + 1}")
            continue
        if not rounds_to(-bottom, low) or not rounds_to(top, high):
            errors.append(f"{name}: input {j + 1} spans {float(-bottom)!r} .. {float(top)!r}, "
                          f"not {low} .. {high}")
    for i, (n, d) in enumerate(table):
        best = lp_max(table, list(n), skip=i)
        if best is not None and best + d <= 0:
            errors.append(f"{name} facet {i + 1} is redundant")
    return errors


def main(argv):
    tables = [(spec, build_table(spec)) for spec in CLASSIFIERS]
    text = render(tables)
    if len(argv) == 3 and argv[1] == "--check":
        with open(argv[2]) as f:
            committed = f.read()
        errors = []
        if committed != text:
            errors.append(f"{argv[2]} is not the generator's output; regenerate it")
        parsed = parse(committed)
        for spec in CLASSIFIERS:
            if spec["table"] not in parsed:
                errors.append(f"{spec['table']} missing")
                continue
            errors += check_table(spec, parsed[spec["table"]])
            print(f"{spec['name']}: {len(parsed[spec['table']])} facets checked", flush=True)
        for e in errors:
            print("error:", e)
        return 1 if errors else 0
    if len(argv) == 2:
        with open(argv[1], "w") as f:
            f.write(text)
        return 0
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
