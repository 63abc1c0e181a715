#!/usr/bin/python3
"""Reference values of the fixed-dispersion GEV fit of the Uccle daily-rain
annual maxima (1938-1972) on the year: mu(c) = mu0 exp(a c / mu0),
sigma(c) = sigma0 exp(a c / mu0), constant shape; computed at
60 digits of decimal arithmetic and printed as "key value" lines for
nonstationary_test.cpp.

Keys: mu0, a, sigma0, xi and their standard errors (inverse observed
information, by numerical differentiation), loglik, the stationary GEV's
loglik (from data/gev_reference.txt) and the likelihood-ratio statistic, and the 100-year level at 1938
and 1972 with its delta-method standard error.
Run once with Debian's Python: /usr/bin/python3 make_dispersion_reference.py
"""
import os

from decimal import Decimal as D, getcontext

getcontext().prec = 60
HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data")
INF = D("Infinity")


class mp:  # the few high-precision functions needed, over decimal
    mpf = D
    inf = INF

    @staticmethod
    def log(v):
        return D(v).ln()

    @staticmethod
    def exp(v):
        return D(v).exp()

    @staticmethod
    def sqrt(v):
        return D(v).sqrt()

    @staticmethod
    def nstr(v, n):
        return f"{v:.{n}e}"


def solve(a, b):
    """a x = b by Gaussian elimination with partial pivoting (lists)."""
    k = len(b)
    m = [list(row) + [b[i]] for i, row in enumerate(a)]
    for c in range(k):
        r = max(range(c, k), key=lambda i: abs(m[i][c]))
        m[c], m[r] = m[r], m[c]
        for i in range(c + 1, k):
            f = m[i][c] / m[c][c]
            m[i] = [x - f * y for x, y in zip(m[i], m[c])]
    x = [D(0)] * k
    for i in reversed(range(k)):
        x[i] = (m[i][k] - sum(m[i][j] * x[j] for j in range(i + 1, k))) / m[i][i]
    return x


def inverse(a):
    k = len(a)
    cols = [solve(a, [D(1) if i == j else D(0) for i in range(k)]) for j in range(k)]
    return [[cols[j][i] for j in range(k)] for i in range(k)]


Y100 = -mp.log(-mp.log(1 - D(1) / 100))


def read():
    with open(os.path.join(HERE, "uccle_dayrain.txt")) as f:
        x = [D(v.strip()) for v in f if v.strip()]
    return x, [D(1938 + i) for i in range(len(x))]


X, C = read()
CBAR = sum(C) / len(C)


def gev_terms(z, xi):
    w = 1 + xi * z
    if w <= 0:
        return None
    return -(1 + 1 / xi) * mp.log(w) - mp.exp(-mp.log(w) / xi)


def loglik_inner(p):
    """Centred parameters: m (mu at the mean year), beta, ln s (sigma at the mean year), xi."""
    m, beta, ls, xi = p
    total = D(0)
    for x, c in zip(X, C):
        e = mp.exp(beta * (c - CBAR))
        mu, sigma = m * e, mp.exp(ls) * e
        t = gev_terms((x - mu) / sigma, xi)
        if t is None:
            return -mp.inf
        total += t - mp.log(sigma)
    return total


def stationary_loglik():
    """The stationary GEV's maximum, from the 30-digit stationary references."""
    with open(os.path.join(HERE, "gev_reference.txt")) as f:
        for line in f:
            words = line.split()
            if words[:2] == ["uccle_dayrain", "mle_loglik"]:
                return D(words[2])
    raise SystemExit("gev_reference.txt has no uccle_dayrain mle_loglik")


def derivatives(f, p, h=mp.mpf("1e-15")):
    k = len(p)
    g = [D(0)] * k
    H = [[D(0)] * k for _ in range(k)]
    f0 = f(p)
    for i in range(k):
        e = [h if j == i else 0 for j in range(k)]
        fp, fm = f([a + b for a, b in zip(p, e)]), f([a - b for a, b in zip(p, e)])
        g[i] = (fp - fm) / (2 * h)
        H[i][i] = (fp - 2 * f0 + fm) / h ** 2
        for j in range(i):
            def at(si, sj):
                q = list(p)
                q[i] += si * h
                q[j] += sj * h
                return f(q)
            H[i][j] = H[j][i] = (at(1, 1) - at(1, -1) - at(-1, 1) + at(-1, -1)) / (4 * h * h)
    return g, H


def maximise(f, p):
    """Newton's method, the step halved until the likelihood rises."""
    for _ in range(200):
        g, H = derivatives(f, p)
        step = solve(H, g)
        t, f0 = D(1), f(p)
        while True:
            q = [a - t * step[i] for i, a in enumerate(p)]
            if f(q) >= f0 - D("1e-45") or t < D("1e-12"):
                break
            t /= 2
        p = q
        if max(abs(s) for s in step) < D("1e-40"):
            break
    return p


def user(p):
    """(mu0, a, sigma0, xi) at year 0 from the centred parameters."""
    m, beta, ls, xi = p
    shift = mp.exp(-beta * CBAR)
    mu0 = m * shift
    return [mu0, mu0 * beta, mp.exp(ls) * shift, xi]


def inner(u):
    mu0, a, sigma0, xi = u
    beta = a / mu0
    shift = mp.exp(beta * CBAR)
    return [mu0 * shift, beta, mp.log(sigma0 * shift), xi]


def level(u, year):
    mu0, a, sigma0, xi = u
    e = mp.exp(a * year / mu0)
    return e * (mu0 + sigma0 * (mp.exp(xi * Y100) - 1) / xi)


def gradient(f, u, h=D("1e-20")):
    return [(f(u[:i] + [u[i] + h] + u[i + 1:]) - f(u[:i] + [u[i] - h] + u[i + 1:])) / (2 * h)
            for i in range(len(u))]


def main():
    p = maximise(loglik_inner, [D(40), D("0.005"), mp.log(D(9)), D("0.05")])
    u = user(p)
    lu = lambda v: loglik_inner(inner(v))  # noqa: E731
    _, H = derivatives(lu, u)
    cov = [[-v for v in row] for row in inverse(H)]
    se = [mp.sqrt(cov[i][i]) for i in range(4)]
    out = {}
    for name, v, s in zip(("mu0", "a", "sigma0", "xi"), u, se):
        out[name], out["se_" + name] = v, s
    out["loglik"] = loglik_inner(p)
    out["stationary_loglik"] = stationary_loglik()
    out["lr"] = 2 * (out["loglik"] - out["stationary_loglik"])
    for year in (1938, 1972):
        z = level(u, year)
        g = gradient(lambda v: level(v, year), u)
        var = sum(g[i] * cov[i][j] * g[j] for i in range(4) for j in range(4))
        out[f"rl100_{year}"], out[f"rl100_se_{year}"] = z, mp.sqrt(var)
    for k, v in out.items():
        print(k, mp.nstr(v, 30))


if __name__ == "__main__":
    main()
