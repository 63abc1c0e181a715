#!/usr/bin/python3
"""Reference values for test_stats, computed at 50 digits with mpmath.

Writes the two synthetic samples (far_from_zero.txt, negative.txt) and
reference.txt ("sample key value" lines) into data/. The real samples
portpirie_sealevel.txt and venice_sealevel.txt are read from data/.
Run once with Debian's Python: /usr/bin/python3 make_reference.py
"""
import math
import os

import mpmath as mp

mp.mp.dps = 50
HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data")
BINS = 10  # histogram of the chi-square and least-squares covariance checks
PROB = 0.99
PERIOD = 50


def lcg_uniforms(n, state):
    """Deterministic uniforms in (0, 1), enough for a synthetic sample."""
    out = []
    for _ in range(n):
        state = (state * 6364136223846793005 + 1442695040888963407) % 2**64
        out.append(((state >> 11) + 0.5) / 2**53)
    return out


def write_sample(name, values):
    with open(os.path.join(HERE, name), "w") as f:
        for v in values:
            f.write(repr(v) + "\n")


def read_sample(name):
    with open(os.path.join(HERE, name)) as f:
        return [float(line) for line in f if line.strip()]


def histogram(xs):
    """The classic binning, in double precision like the program."""
    lo, hi = min(xs), max(xs)
    dx = (hi - lo) / BINS
    m = int((hi - lo) / dx) + 1
    counts = [0] * m
    for x in xs:
        counts[int((x - lo) / dx)] += 1
    centres = [dx * (i - 0.5) + lo for i in range(1, m + 1)]
    dens = [c / len(xs) / dx for c in counts]
    return lo, dx, counts, centres, dens


def cdf(x, a, b):
    return mp.exp(-mp.exp(-(x - a) / b))


def mle(xs):
    n = len(xs)
    X = [mp.mpf(x) for x in xs]
    mean = mp.fsum(X) / n
    sd = mp.sqrt(mp.fsum((x - mean) ** 2 for x in X) / n)
    lo = min(X)

    def g(b):
        w = [mp.exp(-(x - lo) / b) for x in X]
        return b - mean + mp.fsum(x * wi for x, wi in zip(X, w)) / mp.fsum(w)

    b = mp.findroot(g, (sd * mp.mpf("0.3"), sd * 2), solver="anderson")
    a = lo - b * mp.log(mp.fsum(mp.exp(-(x - lo) / b) for x in X) / n)
    z = [(x - a) / b for x in X]
    e = [mp.exp(-zi) for zi in z]
    ll = -n * mp.log(b) - mp.fsum(z) - mp.fsum(e)
    # Minus the analytic Hessian of the log-likelihood.
    haa = mp.fsum(e) / b**2
    hab = (mp.fsum(1 - ei for ei in e) + mp.fsum(zi * ei for zi, ei in zip(z, e))) / b**2
    hbb = (-n + 2 * mp.fsum(zi * (1 - ei) for zi, ei in zip(z, e))
           + mp.fsum(zi**2 * ei for zi, ei in zip(z, e))) / b**2
    cov = mp.matrix([[haa, hab], [hab, hbb]]) ** -1
    return a, b, ll, cov


def lmom(xs):
    s = sorted(mp.mpf(x) for x in xs)
    n = len(s)
    b0 = mp.fsum(s) / n
    b1 = mp.fsum(mp.mpf(i - 1) / (n - 1) * x for i, x in enumerate(s, 1)) / n
    b = (2 * b1 - b0) / mp.log(2)
    return b0 - mp.euler * b, b


def level(a, b, cov, p):
    y = -mp.log(-mp.log(p))
    var = cov[0, 0] + 2 * y * cov[0, 1] + y * y * cov[1, 1]
    return a + b * y, mp.sqrt(var)


def gof(xs, a, b):
    s = sorted(mp.mpf(x) for x in xs)
    n = len(s)
    F = [cdf(x, a, b) for x in s]
    d = max(max(mp.mpf(i) / n - f, f - mp.mpf(i - 1) / n) for i, f in enumerate(F, 1))
    w2 = mp.mpf(1) / (12 * n) + mp.fsum((f - mp.mpf(2 * i - 1) / (2 * n)) ** 2
                                         for i, f in enumerate(F, 1))
    a2 = -n - mp.fsum((2 * i - 1) * (mp.log(F[i - 1]) + mp.log(1 - F[n - i]))
                      for i in range(1, n + 1)) / n
    return d, w2, a2


def chi2(xs, a, b):
    lo, dx, counts, _, _ = histogram(xs)
    n, m = len(xs), len(counts)
    edges = [mp.mpf(lo + i * dx) for i in range(m + 1)]  # edges as the program forms them
    groups, o, e = [], 0, mp.mpf(0)
    for i in range(m):
        left = 0 if i == 0 else cdf(edges[i], a, b)
        right = 1 if i == m - 1 else cdf(edges[i + 1], a, b)
        o += counts[i]
        e += n * (right - left)
        if e >= 5:
            groups.append([o, e])
            o, e = 0, mp.mpf(0)
    if groups:
        groups[-1][0] += o
        groups[-1][1] += e
    else:
        groups.append([o, e])
    x2 = mp.fsum((g[0] - g[1]) ** 2 / g[1] for g in groups)
    df = len(groups) - 3
    p = mp.gammainc(mp.mpf(df) / 2, x2 / 2, mp.inf, regularized=True) if df >= 1 else mp.nan
    return x2, df, p


def ls_cov(xs, a, b):
    _, _, _, centres, dens = histogram(xs)
    m = len(centres)
    jt = mp.matrix(2, 2)
    rss = mp.mpf(0)
    for x, y in zip(centres, dens):
        x = mp.mpf(x)
        z = (x - a) / b
        t = mp.exp(-z)
        f = t * mp.exp(-t) / b
        ga = f * (1 - t) / b
        gb = f * (z * (1 - t) - 1) / b
        jt[0, 0] += ga * ga
        jt[0, 1] += ga * gb
        jt[1, 1] += gb * gb
        rss += (mp.mpf(y) - f) ** 2
    jt[1, 0] = jt[0, 1]
    return rss / (m - 2) * jt**-1


def main():
    far = [1e9 + 2e-4 * -math.log(-math.log(u)) for u in lcg_uniforms(40, 12345)]
    neg = [round(-250 + 7 * -math.log(-math.log(u)), 6) for u in lcg_uniforms(30, 777)]
    write_sample("far_from_zero.txt", far)
    write_sample("negative.txt", neg)
    lines = []
    for name in ["portpirie_sealevel.txt", "venice_sealevel.txt", "far_from_zero.txt",
                 "negative.txt"]:
        xs = read_sample(name)
        a, b, ll, cov = mle(xs)
        la, lb = lmom(xs)
        q, qse = level(a, b, cov, mp.mpf(PROB))
        rl, rlse = level(a, b, cov, 1 - mp.mpf(1) / PERIOD)
        # The statistics given the estimates: at (a, b) rounded to doubles.
        ad, bd = float(a), float(b)
        d, w2, a2 = gof(xs, mp.mpf(ad), mp.mpf(bd))
        x2, df, p = chi2(xs, mp.mpf(ad), mp.mpf(bd))
        lc = ls_cov(xs, mp.mpf(ad), mp.mpf(bd))
        period_max = 1 / (1 - cdf(mp.mpf(max(xs)), mp.mpf(ad), mp.mpf(bd)))
        values = [("mle_a", a), ("mle_b", b), ("mle_loglik", ll), ("mle_var_a", cov[0, 0]),
                  ("mle_cov_ab", cov[0, 1]), ("mle_var_b", cov[1, 1]), ("q99", q),
                  ("q99_se", qse), ("rl50", rl), ("rl50_se", rlse), ("lmom_a", la),
                  ("lmom_b", lb), ("ks", d), ("cvm", w2), ("ad", a2), ("chi2", x2),
                  ("chi2_df", df), ("chi2_p", p), ("ls_var_a", lc[0, 0]),
                  ("ls_cov_ab", lc[0, 1]), ("ls_var_b", lc[1, 1]),
                  ("period_max", period_max)]
        for key, v in values:
            lines.append(f"{name} {key} {mp.nstr(v, 25) if key != 'chi2_df' else v}")
        lines.append(f"{name} a_double {ad!r}")
        lines.append(f"{name} b_double {bd!r}")
    with open(os.path.join(HERE, "reference.txt"), "w") as f:
        f.write("# sample key value: made by make_reference.py (mpmath, 50 digits)\n")
        f.write("# mle at the maximum, q99 and rl50 with its covariance; the gof, chi2\n")
        f.write("# (10 bins), period_max and the least-squares covariance ls_* are given\n")
        f.write("# (a_double, b_double), the mle rounded to doubles.\n")
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
