#!/usr/bin/python3
"""Reference values of the scaling models of intensity-duration-frequency curves,
at 30 digits (mpmath): the maximum of the composite log-likelihood of general
scaling (mu0, sigma0, xi, alpha, delta) and of simple scaling (delta = 0), the
log-likelihood there and the standard errors from the observed information.

The data: 25 years of maxima of four durations drawn from a scaling GEV with a
fixed seed. Writes tests/stats/data/idf_reference.txt:
    data HOURS YEAR X          (one line per maximum)
    general|simple NAME VALUE  (mu0 sigma0 shape alpha delta loglik se_*)
"""
import math
import random
import sys

import mpmath as mp

mp.mp.dps = 40
D0 = mp.mpf(1)

random.seed(20261210)
durations = [0.25, 1.0, 6.0, 24.0]
true = dict(mu0=20.0, sigma0=6.0, xi=0.12, alpha=0.7, delta=0.3)
rows = []
for year in range(25):
    for d in durations:
        s = ((d + true["delta"]) / (1 + true["delta"])) ** (-true["alpha"])
        u = random.random()
        y = true["mu0"] + true["sigma0"] * ((-math.log(u)) ** (-true["xi"]) - 1) / true["xi"]
        rows.append((d, year, float(f"{s * y:.6g}")))


def loglik(mu, lsg, xi, alpha, delta):
    total = mp.mpf(0)
    sg = mp.exp(lsg)
    for d, _, x in rows:
        ls = -alpha * (mp.log(mp.mpf(d) + delta) - mp.log(D0 + delta))
        y = mp.mpf(x) / mp.exp(ls)
        z = (y - mu) / sg
        w = 1 + xi * z
        if w <= 0:
            return mp.mpf("-inf")
        total += -lsg - (1 + 1 / xi) * mp.log(w) - w ** (-1 / xi) - ls
    return total


def newton(f, theta):
    k = len(theta)
    for _ in range(60):
        g = [mp.diff(lambda *t: f(*t), theta, tuple(1 if j == i else 0 for j in range(k))) for i in range(k)]
        h = mp.matrix(k, k)
        for i in range(k):
            for j in range(i, k):
                order = [0] * k
                order[i] += 1
                order[j] += 1
                h[i, j] = h[j, i] = mp.diff(lambda *t: f(*t), theta, tuple(order))
        step = mp.lu_solve(h, mp.matrix(g))
        if max(abs(step[i]) for i in range(k)) < mp.mpf(10) ** -32:
            break
        # Damped: halve the step until the likelihood rises (a step away
        # from the maximum, where h is not negative definite, goes by the
        # gradient instead).
        if sum(g[i] * step[i] for i in range(k)) > 0:
            step = [-g[i] * mp.mpf("1e-3") for i in range(k)]
        here, t = f(*theta), 1
        while True:
            trial = [theta[i] - t * step[i] for i in range(k)]
            if f(*trial) >= here or t < 1e-20:
                break
            t /= 2
        theta = trial
    return theta, h


def report(name, f, theta):
    theta, h = newton(f, theta)
    cov = (-h) ** -1
    k = len(theta)
    mu, lsg = theta[0], theta[1]
    sg = mp.exp(lsg)
    out = [(name, "mu0", mu), (name, "sigma0", sg), (name, "shape", theta[2]), (name, "alpha", theta[3])]
    if k == 5:
        out.append((name, "delta", theta[4]))
    out.append((name, "loglik", f(*theta)))
    # sigma0's error through d sigma = sigma d ln sigma.
    jac = [1, sg] + [1] * (k - 2)
    for i, p in enumerate(["mu0", "sigma0", "shape", "alpha", "delta"][:k]):
        out.append((name, "se_" + p, jac[i] * mp.sqrt(cov[i, i])))
    return out


start = [mp.mpf(20), mp.log(6), mp.mpf("0.1"), mp.mpf("0.7"), mp.mpf("0.3")]
lines = [f"data {d} {y} {x!r}" for d, y, x in rows]
for name, para, v in report("general", loglik, start) + report(
        "simple", lambda mu, lsg, xi, alpha: loglik(mu, lsg, xi, alpha, mp.mpf(0)), start[:4]):
    lines.append(f"{name} {para} {mp.nstr(v, 30)}")
out = sys.argv[1] if len(sys.argv) > 1 else "tests/stats/data/idf_reference.txt"
with open(out, "w") as f:
    f.write("# written by tests/stats/make_idf_reference.py\n" + "\n".join(lines) + "\n")
