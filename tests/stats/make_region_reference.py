#!/usr/bin/python3
"""Generates a region of 9 sites (data/region_sites.txt: a name and its values
a line) and the references of its deterministic quantities at 30 digits
(data/region_reference.txt: "key value" lines): site L-moments, regional
averages, discordancy, the observed dispersions V1..V3, the Kappa of the
regional ratios, and the GLO, GEV and GPA growth curves (Hosking's
parameters, shape = -k) with tau4 and quantiles."""
import os
import random
from mpmath import mp, mpf, binomial, gamma, log, sin, pi, findroot, matrix, sqrt, lu_solve

mp.dps = 40
here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data")
PERIODS = [2, 10, 100, 1000]


def kappa_quantile(f, xi, a, k, h):
    return xi + a / k * (1 - ((1 - f ** h) / h) ** k)


def make_sites():
    rng = random.Random(32)
    sites = []
    for i in range(9):
        n = rng.randint(18, 70)
        mean = rng.uniform(20, 200)
        k, h = -0.05 + 0.03 * rng.random(), 0.2 + 0.2 * rng.random()
        vals = [mean * (0.5 + 0.5 * kappa_quantile(mpf(rng.random()), 1, 0.4, k, h)) for _ in range(n)]
        sites.append((f"s{i + 1:02d}", [f"{float(v):.3f}" for v in vals]))
    return sites


def lmoments(values):
    x = sorted(mpf(v) for v in values)
    n = len(x)
    b = [sum(binomial(j, r) / binomial(n - 1, r) * x[j] for j in range(n)) / n for r in range(5)]
    l1 = b[0]
    l2 = 2 * b[1] - b[0]
    l3 = 6 * b[2] - 6 * b[1] + b[0]
    l4 = 20 * b[3] - 30 * b[2] + 12 * b[1] - b[0]
    l5 = 70 * b[4] - 140 * b[3] + 90 * b[2] - 20 * b[1] + b[0]
    return n, l1, l2 / l1, l3 / l2, l4 / l2, l5 / l2


def kappa_ratios(k, h):
    def g(r):
        if h > 0:
            return r * gamma(1 + k) * gamma(r / h) / (h ** (1 + k) * gamma(1 + k + r / h))
        return r * gamma(1 + k) * gamma(-k - r / h) / ((-h) ** (1 + k) * gamma(1 - r / h))
    g1, g2, g3, g4 = g(1), g(2), g(3), g(4)
    return g1, g2, (-g1 + 3 * g2 - 2 * g3) / (g1 - g2), (g1 - 6 * g2 + 10 * g3 - 5 * g4) / (g1 - g2)


def main():
    sites = make_sites()
    with open(os.path.join(here, "region_sites.txt"), "w") as f:
        for name, vals in sites:
            f.write(name + " " + " ".join(vals) + "\n")
    ref = []
    lm = []
    for name, vals in sites:
        n, l1, t, t3, t4, t5 = lmoments(vals)
        lm.append((n, t, t3, t4, t5))
        ref += [(f"{name}.mean", l1), (f"{name}.t", t), (f"{name}.t3", t3), (f"{name}.t4", t4), (f"{name}.t5", t5)]
    w = sum(m[0] for m in lm)
    R = [sum(m[0] * m[j] for m in lm) / w for j in range(1, 5)]
    ref += [("regional.t", R[0]), ("regional.t3", R[1]), ("regional.t4", R[2]), ("regional.t5", R[3])]
    N = len(lm)
    u = [matrix([m[1], m[2], m[3]]) for m in lm]
    ubar = sum(u[1:], u[0]) / N
    A = matrix(3, 3)
    for v in u:
        d = v - ubar
        A += d * d.T
    for (name, _), v in zip(sites, u):
        d = v - ubar
        ref.append((f"{name}.D", N / mpf(3) * (d.T * lu_solve(A, d))[0]))
    v1 = sqrt(sum(m[0] * (m[1] - R[0]) ** 2 for m in lm) / w)
    v2 = sum(m[0] * sqrt((m[1] - R[0]) ** 2 + (m[2] - R[1]) ** 2) for m in lm) / w
    v3 = sum(m[0] * sqrt((m[2] - R[1]) ** 2 + (m[3] - R[2]) ** 2) for m in lm) / w
    ref += [("V1", v1), ("V2", v2), ("V3", v3)]
    l1, l2, t3, t4 = mpf(1), R[0], R[1], R[2]

    # Kappa: (k, h) with the regional t3, t4, then alpha and xi from l2, l1.
    k, h = findroot(lambda k, h: [kappa_ratios(k, h)[2] - t3, kappa_ratios(k, h)[3] - t4], (mpf(-0.05), mpf(0.3)))
    g1, g2, _, _ = kappa_ratios(k, h)
    a = l2 * k / (g1 - g2)
    ref += [("kappa.loc", l1 - a * (1 - g1) / k), ("kappa.scale", a), ("kappa.k", k), ("kappa.h", h)]

    def curve(name, xi, a, k, tau4, q):
        ref.extend([(f"{name}.loc", xi), (f"{name}.scale", a), (f"{name}.shape", -k), (f"{name}.tau4", tau4)])
        ref.extend((f"{name}.q{T}", q(1 - mpf(1) / T)) for T in PERIODS)

    k = -t3
    a = l2 / (gamma(1 + k) * gamma(1 - k))
    xi = l1 + (l2 - a) / k
    curve("glo", xi, a, k, (1 + 5 * k * k) / 6, lambda F: xi + a / k * (1 - ((1 - F) / F) ** k))
    kg = findroot(lambda k: 2 * (1 - 3 ** -k) / (1 - 2 ** -k) - 3 - t3, mpf(-0.1))
    ag = l2 * kg / ((1 - 2 ** -kg) * gamma(1 + kg))
    xg = l1 - ag * (1 - gamma(1 + kg)) / kg
    tg = (5 * (1 - 4 ** -kg) - 10 * (1 - 3 ** -kg) + 6 * (1 - 2 ** -kg)) / (1 - 2 ** -kg)
    curve("gev", xg, ag, kg, tg, lambda F: xg + ag * (1 - (-log(F)) ** kg) / kg)
    kp = (1 - 3 * t3) / (1 + t3)
    ap = (1 + kp) * (2 + kp) * l2
    xp = l1 - (2 + kp) * l2
    curve("gpa", xp, ap, kp, t3 * (1 + 5 * t3) / (5 + t3), lambda F: xp + ap * (1 - (1 - F) ** kp) / kp)
    with open(os.path.join(here, "region_reference.txt"), "w") as f:
        f.write("# " + __doc__.splitlines()[0] + " (make_region_reference.py)\n")
        for key, v in ref:
            f.write(f"{key} {mp.nstr(v, 30, min_fixed=-5, max_fixed=5)}\n")


if __name__ == "__main__":
    main()
