#!/usr/bin/env python3
"""Designs the 90-degree all-pass pair used by fx/dsp/HilbertPair.

Two chains of first-order analogue all-pass sections (s - a)/(s + a) whose phase responses differ
by 90 degrees over a band of frequency ratio R, centred on 1 rad/s. The poles are found by a
minimax fit on a log-spaced grid (Lawson's iteratively reweighted least squares around
Levenberg-Marquardt steps, in log-pole coordinates), so the phase error ripples evenly.
At run time the poles are scaled to the centre of the wanted band and mapped to digital
first-order all-passes with the bilinear transform (see HilbertPair.cpp).

Standard library only. Usage: design_hilbert_pair.py [sections-per-chain] [ratio]
"""
import math
import sys


def phase(poles, w):
    return sum(-2.0 * math.atan(w / a) for a in poles)


def residuals(x, grid, m):
    a = [math.exp(v) for v in x[:m]]
    b = [math.exp(v) for v in x[m:]]
    # Chain A leads chain B by 90 degrees.
    return [phase(a, w) - phase(b, w) - math.pi / 2 for w in grid]


def jacobian(x, grid, m):
    # d/dv of -2 atan(w / e^v) = 2 (w/a) / (1 + (w/a)^2)
    rows = []
    for w in grid:
        row = []
        for i, v in enumerate(x):
            t = w / math.exp(v)
            d = 2.0 * t / (1.0 + t * t)
            row.append(d if i < m else -d)
        rows.append(row)
    return rows


def solve(a, b):
    n = len(b)
    m = [row[:] + [b[i]] for i, row in enumerate(a)]
    for c in range(n):
        p = max(range(c, n), key=lambda r: abs(m[r][c]))
        m[c], m[p] = m[p], m[c]
        for r in range(n):
            if r != c and m[c][c] != 0.0:
                f = m[r][c] / m[c][c]
                for k in range(c, n + 1):
                    m[r][k] -= f * m[c][k]
    return [m[i][n] / m[i][i] for i in range(n)]


def design(m, ratio, points=400):
    lo, hi = -0.5 * math.log(ratio), 0.5 * math.log(ratio)
    grid = [math.exp(lo + (hi - lo) * k / (points - 1)) for k in range(points)]
    # Start from interleaved, geometrically spaced poles a bit wider than the band.
    n = 2 * m
    span = 1.15 * (hi - lo)
    logs = [-0.5 * span + span * (k + 0.5) / n for k in range(n)]
    x = [logs[2 * i + 1] for i in range(m)] + [logs[2 * i] for i in range(m)]
    weights = [1.0] * points
    lam = 1e-3
    for outer in range(60):
        for _ in range(8):
            r = residuals(x, grid, m)
            j = jacobian(x, grid, m)
            cost = sum(wk * rk * rk for wk, rk in zip(weights, r))
            jtj = [[sum(weights[k] * j[k][p] * j[k][q] for k in range(points)) for q in range(n)]
                   for p in range(n)]
            jtr = [sum(weights[k] * j[k][p] * r[k] for k in range(points)) for p in range(n)]
            while True:
                aug = [[jtj[p][q] + (lam * jtj[p][p] if p == q else 0.0) for q in range(n)]
                       for p in range(n)]
                step = solve(aug, [-v for v in jtr])
                xn = [xi + si for xi, si in zip(x, step)]
                rn = residuals(xn, grid, m)
                cn = sum(wk * rk * rk for wk, rk in zip(weights, rn))
                if cn < cost:
                    x, lam = xn, max(lam * 0.3, 1e-9)
                    break
                lam *= 10.0
                if lam > 1e9:
                    break
        r = residuals(x, grid, m)
        # Lawson update: weight the grid points by their error, renormalised.
        weights = [wk * abs(rk) for wk, rk in zip(weights, r)]
        s = sum(weights)
        weights = [wk / s * points for wk in weights]
    r = residuals(x, grid, m)
    return sorted(math.exp(v) for v in x[:m]), sorted(math.exp(v) for v in x[m:]), max(
        abs(v) for v in r)


if __name__ == "__main__":
    m = int(sys.argv[1]) if len(sys.argv) > 1 else 8
    ratio = float(sys.argv[2]) if len(sys.argv) > 2 else 6000.0
    a, b, err = design(m, ratio)
    print(f"// {m} sections per chain, band ratio {ratio:g}, max phase error "
          f"{math.degrees(err):.4f} deg, image rejection "
          f"{-20 * math.log10(math.tan(err / 2)):.1f} dB")
    print("kPolesA = {" + ", ".join(f"{v:.12e}" for v in a) + "}")
    print("kPolesB = {" + ", ".join(f"{v:.12e}" for v in b) + "}")
