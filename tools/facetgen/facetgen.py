#!/usr/bin/env python3
"""Learns the facet tables of the four pathology classifiers from real
frames, writes them and checks them.

    facetgen.py DATA --write TABLES.cpp  learn and write the tables
    facetgen.py DATA --check TABLES.cpp  learn again, compare with TABLES.cpp
                                         and run the exact checks on it
    facetgen.py DATA --cross-validate    held-out figures, blocks of the source
                                         set (or runs of neighbouring frames)
                                         kept together

DATA is --features FEATURES.csv... (tables of `vireo-detect --features`),
--labels LABELS.csv... (clip, frame, class, box) and --normal CLIP... (clips
whose every frame is without finding). How the regions are learned is told in
learn.py.

What the tables keep, whatever the data: the inputs in their order, the facet
counts, the fixed facets at their numbers, unit normals printed to 12
decimals, a bounded region inside the stated bounds per input, the example
points on their stated sides, and no facet that does not touch the region.
The checks are exact (rational arithmetic on the printed values, a linear
programme per facet for the extents and the touching).
"""

import argparse
import os
import re
import sys
import tempfile
from fractions import Fraction
from decimal import Decimal

import numpy as np
from scipy.optimize import linprog

import learn

DIGITS = 12


def F(text):
    return Fraction(Decimal(text))


CLASSIFIERS = [
    dict(
        name="Blood1", table="kBlood1Facets", count=52, slots=[0, 1, 2], learn="bleeding",
        bounds=[("0.00337", "0.590"), ("32.97", "55.75"), ("0.508", "10.85")],
        fixed={
            1: (("-0.999235818696", "0.033490843508", "0.020152965922"), "-1.452109376006"),
            2: (("-0.94741445817", "0.139039204525", "0.288225509031"), "-7.632678109965"),
            52: (("0.995426973021", "-0.019329228646", "-0.093549571364"), "0.686209802226"),
        },
        inside=[("0.147", "40.4", "4.26")],
        outside=[("0.147", "60", "4.26"), ("0", "0", "0")],
    ),
    dict(
        name="Ulcer1", table="kUlcer1Facets", count=46, slots=[3, 4, 5], learn="silent",
        bounds=[("0.2629", "0.5057"), ("149.8", "243.2"), ("146.8", "253.2")],
        fixed={
            1: (("-0.998632917463", "-0.038204061397", "0.035675563794"), "0.697152843581"),
            46: (("-0.999815452814", "0.014134932623", "-0.013010149681"), "-0.028014279894"),
        },
        inside=[("0.373", "195", "190")],
        outside=[("0.373", "100", "190")],
    ),
    dict(
        name="Ulcer2", table="kUlcer2Facets", count=182, slots=[6, 7, 8, 9], learn="silent",
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
    ),
    dict(
        name="Blood2", table="kBlood2Facets", count=42, slots=[17, 18, 19], learn="bleeding",
        bounds=[("192.7", "225.3"), ("-0.00245", "0.2431"), ("133.6", "178.5")],
        fixed={
            1: (("0.006714496287", "-0.999953152994", "-0.006971897644"), "-0.286879249883"),
            8: (("0", "-1", "0"), "-0.002451966766"),
            42: (("0.005296931619", "-0.999951610432", "-0.008289711108"), "0.226180649483"),
        },
        inside=[("207", "0.124", "153")],
        outside=[("150", "0.124", "153")],
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


def unit_quantised(n):
    """Rounds a unit normal to 12 decimals; exact zeros and ones stay exact."""
    return tuple(quantise(v) for v in n)


def build_table(spec, region):
    """The table of a learned region: fixed facets at their numbers, the
    region's other planes in their order in between."""
    fixed = {k: (tuple(F(v) for v in n), F(d)) for k, (n, d) in spec["fixed"].items()}
    rest = [(unit_quantised(n), quantise(d)) for n, d in learn.region_table(region)[len(fixed):]]
    if len(rest) + len(fixed) != spec["count"]:
        raise SystemExit(f"{spec['name']}: learned {len(rest) + len(fixed)} facets, not {spec['count']}")
    return [fixed[number] if number in fixed else rest.pop(0) for number in range(1, spec["count"] + 1)]


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
    None when unbounded. A floating-point solver proposes the optimal vertex,
    which exact simplex steps then prove or improve; when it proposes none,
    the exact simplex alone decides."""
    rows = [row for i, row in enumerate(table) if i != skip]
    basis = proposed_basis(rows, c)
    if basis is None:
        return simplex_max(table, c, skip)
    return vertex_simplex(rows, c, basis)


def dot(u, v):
    """Exact dot product of two vectors of Fractions."""
    return sum(p * q for p, q in zip(u, v))


def solve(matrix, rhs):
    """Exact solution of a square system by Gaussian elimination; None when singular."""
    size = len(rhs)
    rows = [list(r) + [v] for r, v in zip(matrix, rhs)]
    for col in range(size):
        pivot = next((r for r in range(col, size) if rows[r][col] != 0), None)
        if pivot is None:
            return None
        rows[col], rows[pivot] = rows[pivot], rows[col]
        for r in range(size):
            if r != col and rows[r][col] != 0:
                f = rows[r][col] / rows[col][col]
                rows[r] = [a - f * b for a, b in zip(rows[r], rows[col])]
    return [rows[r][size] / rows[r][r] for r in range(size)]


def proposed_basis(rows, c):
    """Indices of `dim` rows with independent normals binding at the vertex a
    floating-point solver finds optimal (those with the largest multipliers
    first); None when it finds no optimum."""
    dim = len(c)
    a = np.array([[float(v) for v in n] for n, _ in rows])
    b = np.array([-float(d) for _, d in rows])
    result = linprog(-np.array([float(v) for v in c]), A_ub=a, b_ub=b, bounds=[(None, None)] * dim,
                     method="highs")
    if result.status != 0:
        return None
    slack = b - a @ result.x
    basis = []
    for i in np.lexsort((slack, result.ineqlin.marginals)):
        if len(basis) == dim:
            break
        if np.linalg.matrix_rank(a[basis + [i]]) == len(basis) + 1:
            basis.append(int(i))
    return basis if len(basis) == dim else None


def vertex_simplex(rows, c, basis):
    """Exact primal simplex from the vertex where the `basis` rows bind: while
    c has a negative weight y_k on a basis normal, move along the edge that
    leaves row k (c.x grows) to the first row it meets (Bland's rule on both
    choices). At y >= 0 no point does better (weak duality). When the basis
    is not a vertex of the region, the exact simplex alone decides."""
    dim = len(c)
    x = solve([rows[i][0] for i in basis], [-rows[i][1] for i in basis])
    if x is None or any(dot(n, x) + d > 0 for n, d in rows):
        return simplex_max([*rows], c)
    while True:
        y = solve([[rows[i][0][j] for i in basis] for j in range(dim)], list(c))
        leaving = [k for k in range(dim) if y[k] < 0]
        if not leaving:
            return dot(c, x)
        k = min(leaving, key=lambda k: basis[k])
        # edge direction r: n_j.r = 0 for the other basis rows, n_k.r = -1
        r = solve([rows[i][0] for i in basis], [Fraction(-1 if m == k else 0) for m in range(dim)])
        best = None
        for j, (n, d) in enumerate(rows):
            rate = dot(n, r)
            if j in basis or rate <= 0:
                continue
            step = (-d - dot(n, x)) / rate
            if best is None or step < best[0]:
                best = (step, j)
        if best is None:
            return None
        x = [p + best[0] * q for p, q in zip(x, r)]
        basis[k] = best[1]


def simplex_max(table, c, skip=None):
    """lp_max by exact arithmetic alone: the dual  min (-d).y  s.t.  N^T y = c, y >= 0
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
    return all(dot(n, point) + d <= 0 for n, d in table)


def half_unit(text):
    """Half a unit of the last printed digit: the bounds are rounded extents."""
    return Fraction(1, 2) * Fraction(10) ** Decimal(text).as_tuple().exponent


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
        if -bottom < F(low) - half_unit(low) or top > F(high) + half_unit(high):
            errors.append(f"{name}: input {j + 1} spans {float(-bottom)!r} .. {float(top)!r}, "
                          f"outside {low} .. {high}")
    for i, (n, d) in enumerate(table):
        best = lp_max(table, list(n), skip=i)
        if best is not None and best + d <= 0:
            errors.append(f"{name} facet {i + 1} is redundant")
    return errors


def learned_tables(examples):
    for spec in CLASSIFIERS:
        lo, hi = box_of(spec)
        spec["box"] = ([float(v) for v in lo], [float(v) for v in hi])
    regions = learn.learn(CLASSIFIERS, examples)
    return regions, [(spec, build_table(spec, regions[spec["name"]])) for spec in CLASSIFIERS]


def frame_flags(tables, examples):
    """Per frame and classifier whether any block is inside, evaluated in
    double precision on the printed tables, as the detector does."""
    out = {}
    for spec, table in tables:
        x = examples.columns(spec["slots"])
        mask = np.ones(len(x), dtype=bool)
        for n, d in table:
            mask &= x @ np.array([float(v) for v in n]) + float(d) <= 0
        out[spec["name"]] = np.bincount(examples.frame[mask], minlength=len(examples.frame_bleeding)) > 0
    return out


def check_learning_flags(regions, tables, examples):
    """The printed bleeding tables flag the same learning frames as the data
    cuts alone: corner shaving and rounding change nothing the data decided."""
    flags = frame_flags(tables, examples)
    errors = []
    for spec in CLASSIFIERS:
        before = getattr(regions[spec["name"]], "cut_flags", None)
        if before is not None and not np.array_equal(before, flags[spec["name"]]):
            changed = int((before != flags[spec["name"]]).sum())
            errors.append(f"{spec['name']}: the printed table flags {changed} learning frames "
                          "differently from its data cuts")
    return errors


def share(part, whole):
    return f"{part}/{whole} ({100.0 * part / whole:.1f} %)" if whole else "-"


def report(title, flags, examples, normal_clips):
    bleeding = examples.frame_bleeding
    polyp = np.array([k[0] in normal_clips for k in examples.frame_keys])
    without = ~bleeding & ~polyp
    blood = flags["Blood1"] | flags["Blood2"]
    anything = blood | flags["Ulcer1"] | flags["Ulcer2"]
    print(title)
    print(f"  Blood1|Blood2  bleeding frames found {share(int((blood & bleeding).sum()), int(bleeding.sum()))}, "
          f"frames without bleeding flagged {share(int((blood & without).sum()), int(without.sum()))}, "
          f"normal run flagged {share(int((blood & polyp).sum()), int(polyp.sum()))}")
    for name in ("Blood1", "Blood2", "Ulcer1", "Ulcer2"):
        f = flags[name]
        print(f"  {name:13s} bleeding frames {share(int((f & bleeding).sum()), int(bleeding.sum()))}, "
              f"without bleeding {share(int((f & without).sum()), int(without.sum()))}, "
              f"normal run {share(int((f & polyp).sum()), int(polyp.sum()))}")
    print(f"  any label      frames without bleeding flagged {share(int((anything & without).sum()), int(without.sum()))}, "
          f"normal run {share(int((anything & polyp).sum()), int(polyp.sum()))}")


def cross_validate(examples, normal_clips):
    """Each group of frames (a block of the source set, see learn.py) is
    judged by tables learned on all the others, operating point included;
    prints the pooled figures and each fold's."""
    groups = list(dict.fromkeys(examples.frame_group))
    pooled = {s["name"]: np.zeros(len(examples.frame_group), dtype=bool) for s in CLASSIFIERS}
    polyp = np.array([k[0] in normal_clips for k in examples.frame_keys])
    without = ~examples.frame_bleeding & ~polyp
    for k, group in enumerate(groups):
        held_mask = examples.frame_group == group
        regions, tables = learned_tables(examples.subset(~held_mask))
        held = examples.subset(held_mask)
        flags = frame_flags(tables, held)
        for name, f in flags.items():
            pooled[name][held_mask] = f
        blood = flags["Blood1"] | flags["Blood2"]
        anything = blood | flags["Ulcer1"] | flags["Ulcer2"]
        print(f"fold {k + 1}/{len(groups)} {group}: cost {regions['Blood1'].miss_cost}, "
              f"Blood1|Blood2 found {share(int((blood & held.frame_bleeding).sum()), int(held.frame_bleeding.sum()))}, "
              f"flagged without bleeding {share(int((blood & without[held_mask]).sum()), int(without[held_mask].sum()))}, "
              f"any label {share(int((anything & without[held_mask]).sum()), int(without[held_mask].sum()))}",
              flush=True)
    report(f"held out ({len(groups)} folds, one group each):", pooled, examples, normal_clips)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--features", nargs="+", required=True)
    parser.add_argument("--labels", nargs="+", required=True)
    parser.add_argument("--normal", nargs="*", default=[])
    parser.add_argument("--check", metavar="TABLES.cpp")
    parser.add_argument("--cross-validate", action="store_true")
    parser.add_argument("--evaluate", metavar="TABLES.cpp", help="figures of committed tables on the data")
    parser.add_argument("--write", metavar="TABLES.cpp", help="write the learned tables")
    args = parser.parse_args(argv[1:])
    examples = learn.Examples(args.features, args.labels, set(args.normal))
    if args.cross_validate:
        cross_validate(examples, set(args.normal))
        return 0
    if args.evaluate:
        with open(args.evaluate) as f:
            parsed = parse(f.read())
        tables = [(spec, parsed[spec["table"]]) for spec in CLASSIFIERS]
        report(f"{args.evaluate} on the data:", frame_flags(tables, examples), examples, set(args.normal))
        return 0
    regions, tables = learned_tables(examples)
    print(f"operating point: a lost bleeding frame weighs {regions['Blood1'].miss_cost} frames without bleeding",
          flush=True)
    text = render(tables)
    if args.check:
        with open(args.check) as f:
            committed = f.read()
        errors = []
        if committed != text:
            errors.append(f"{args.check} is not the generator's output; regenerate it")
        parsed = parse(committed)
        for spec in CLASSIFIERS:
            if spec["table"] not in parsed:
                errors.append(f"{spec['table']} missing")
                continue
            errors += check_table(spec, parsed[spec["table"]])
            print(f"{spec['name']}: {len(parsed[spec['table']])} facets checked", flush=True)
        errors += check_learning_flags(regions, tables, examples)
        for e in errors:
            print("error:", e)
        return 1 if errors else 0
    if not args.write:
        parser.error("name the output file")
    write_replacing(args.write, text)
    return 0


def write_replacing(path, text):
    """Writes `text` to a temporary file in `path`'s folder and renames it
    over `path` once complete, so that a failed write leaves the old tables
    in place rather than a half-written source file."""
    folder = os.path.dirname(os.path.abspath(path))
    fd, temporary = tempfile.mkstemp(prefix=".facetgen-", suffix=".tmp", dir=folder)
    try:
        with os.fdopen(fd, "w") as f:
            f.write(text)
            f.flush()
            os.fsync(f.fileno())
        os.chmod(temporary, os.stat(path).st_mode & 0o777 if os.path.exists(path) else 0o644)
        os.replace(temporary, path)
    except BaseException:
        os.unlink(temporary)
        raise


if __name__ == "__main__":
    sys.exit(main(sys.argv))
