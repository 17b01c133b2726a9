"""The exact linear programme of the table checks: the simplex warm-started at
a floating-point vertex against the tableau simplex on its own, on regions
with degenerate corners, rounded normals and unbounded directions."""

import random
import unittest
from fractions import Fraction

import facetgen


def cube(dim):
    """The unit cube as facets n.x + d <= 0."""
    out = []
    for j in range(dim):
        e = [Fraction(int(k == j)) for k in range(dim)]
        out += [(tuple(e), Fraction(-1)), (tuple(-v for v in e), Fraction(0))]
    return out


def rounded_ball(dim, count, seed):
    """Tangent planes of the unit ball, normals rounded as the tables print them."""
    rng = random.Random(seed)
    out = []
    while len(out) < count:
        v = [rng.gauss(0, 1) for _ in range(dim)]
        length = sum(a * a for a in v) ** 0.5
        out.append((tuple(facetgen.quantise(a / length) for a in v), Fraction(-1)))
    return out


# A square pyramid: four sides meet in the apex (0, 0, 1), a degenerate vertex.
PYRAMID = [((Fraction(0), Fraction(0), Fraction(-1)), Fraction(0))] + [
    ((Fraction(a), Fraction(b), Fraction(1)), Fraction(-1)) for a, b in ((1, 0), (-1, 0), (0, 1), (0, -1))]


class ExactMaximum(unittest.TestCase):
    def test_known_values(self):
        cases = [
            (cube(3), [1, 0, 0], None, 1),
            (cube(3), [-1, -1, 0], None, 0),
            (cube(4), [1, 2, 3, 4], None, 10),
            (cube(3), [1, 0, 0], 0, None),          # without x <= 1: unbounded
            (PYRAMID, [0, 0, 1], None, 1),
            (PYRAMID, [1, 1, 1], None, 2),         # a corner of the base
            (PYRAMID, [0, 0, 1], 0, 1),
            (PYRAMID, [1, 0, 0], None, 1),
        ]
        for table, c, skip, want in cases:
            with self.subTest(table=len(table), c=c, skip=skip):
                c = [Fraction(v) for v in c]
                self.assertEqual(facetgen.lp_max(table, c, skip), want)
                self.assertEqual(facetgen.simplex_max(table, c, skip), want)

    def test_walks_from_a_far_vertex(self):
        # cube rows: 0 x<=1, 1 x>=0, 2 y<=1, 3 y>=0, ...; pyramid: 0 base, 1 x+z<=1, 3 y+z<=1
        cases = [
            (cube(3), [1, 2, 3], [1, 3, 5], 6),
            (cube(3)[1:], [1, 0, 0], [0, 2, 4], None),  # x <= 1 left out: unbounded
            (PYRAMID, [0, 0, 1], [0, 1, 3], 1),          # from a base corner to the apex
        ]
        for table, c, basis, want in cases:
            with self.subTest(table=len(table), c=c):
                self.assertEqual(facetgen.vertex_simplex(table, [Fraction(v) for v in c], basis), want)
        table = rounded_ball(4, 60, 3)
        start = facetgen.proposed_basis(table, [Fraction(1), Fraction(0), Fraction(0), Fraction(0)])
        for n, _ in table[:20]:
            self.assertEqual(facetgen.vertex_simplex(table, list(n), list(start)), facetgen.simplex_max(table, list(n)))

    def test_agrees_with_the_tableau_simplex(self):
        for dim, count, seed in ((3, 40, 1), (4, 60, 2)):
            table = rounded_ball(dim, count, seed)
            for i, (n, _) in enumerate(table):
                with self.subTest(dim=dim, facet=i):
                    self.assertEqual(facetgen.lp_max(table, list(n), skip=i),
                                     facetgen.simplex_max(table, list(n), skip=i))


if __name__ == "__main__":
    unittest.main()
