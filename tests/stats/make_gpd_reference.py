#!/usr/bin/python3
"""Reference values of the generalized Pareto fits, computed with mpmath.

Writes two synthetic samples of excesses (gpd_heavy.txt, gpd_bounded.txt)
and gpd_reference.txt ("sample key value" lines) into data/. The real
sample danish_over10.txt (Danish fire losses above 10) is read from data/;
its excesses are taken over 10.
Run once with Debian's Python: /usr/bin/python3 make_gpd_reference.py
"""
import os

import mpmath as mp

mp.mp.dps = 30
HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data")
M = 40  # exceedances per return level: the level exceeded once in M


def lcg_uniforms(n, state):
    out = []
    for _ in range(n):
        state = (state * 6364136223846793005 + 1442695040888963407) % 2**64
        out.append(((state >> 11) + 0.5) / 2**53)
    return out


def sample(n, seed, scale, shape):
    return [round(scale / shape * ((1 - u) ** -shape - 1), 6) for u in lcg_uniforms(n, seed)]


def loglik(y, s, xi):
    sigma = mp.exp(s)
    total = mp.mpf(0)
    for v in y:
        z = xi * v / sigma
        if z <= -1:
            return mp.mpf("-inf")
        total += -s - (1 / xi + 1) * mp.log1p(z)
    return total


def mle(y):
    n = len(y)
    mean = mp.fsum(y) / n
    start = (mp.log(mean), mp.mpf("0.05"))
    grad = [lambda s, x: mp.diff(lambda t: loglik(y, t, x), s),
            lambda s, x: mp.diff(lambda t: loglik(y, s, t), x)]
    s, xi = mp.findroot(grad, start)
    h = mp.matrix(2, 2)
    h[0, 0] = mp.diff(lambda a, b: loglik(y, a, b), (s, xi), (2, 0))
    h[0, 1] = h[1, 0] = mp.diff(lambda a, b: loglik(y, a, b), (s, xi), (1, 1))
    h[1, 1] = mp.diff(lambda a, b: loglik(y, a, b), (s, xi), (0, 2))
    cs = (-h) ** -1
    sigma = mp.exp(s)
    return sigma, xi, loglik(y, s, xi), sigma**2 * cs[0, 0], sigma * cs[0, 1], cs[1, 1]


def lmom(y):
    s = sorted(y)
    n = len(s)
    b0 = mp.fsum(s) / n
    b1 = mp.fsum(mp.mpf(i - 1) / (n - 1) * x for i, x in enumerate(s, 1)) / n
    l2 = 2 * b1 - b0
    xi = 2 - b0 / l2
    return b0 * (1 - xi), xi


def c(xi):
    return (mp.mpf(M) ** xi - 1) / xi


def profile(y, r, xi0):
    """ln L maximised over xi with sigma = r / c(xi)."""
    f = lambda x: loglik(y, mp.log(r / c(x)), x)
    xi = mp.findroot(lambda x: mp.diff(f, x), xi0)
    return f(xi), xi


def profile_interval(y, sigma, xi, ll, var_s, cov, var_x):
    target = ll - mp.mpf("3.841458820694124032") / 2
    r = sigma * c(xi)
    dc = mp.diff(c, xi)
    se = mp.sqrt(c(xi) ** 2 * var_s + 2 * c(xi) * sigma * dc * cov + (sigma * dc) ** 2 * var_x)
    ends = []
    for sign in (-1, 1):
        state = {"xi": xi}

        def g(q):
            v, state["xi"] = profile(y, q, state["xi"])
            return v - target
        ends.append(mp.findroot(g, r + sign * 1.5 * se, tol=mp.mpf(10) ** -24))
    return ends


def main():
    samples = {
        "gpd_heavy.txt": sample(200, 2024, 3.0, 0.25),
        "gpd_bounded.txt": sample(150, 99, 5.0, -0.3),
    }
    for name, values in samples.items():
        with open(os.path.join(HERE, name), "w") as f:
            f.write("".join(f"{v!r}\n" for v in values))
    danish = [mp.mpf(line) - 10 for line in open(os.path.join(HERE, "danish_over10.txt"))
              if line.strip()]
    lines = []
    for name in ["danish_over10.txt", "gpd_heavy.txt", "gpd_bounded.txt"]:
        y = danish if name.startswith("danish") else [mp.mpf(v) for v in samples[name]]
        sigma, xi, ll, vs, cv, vx = mle(y)
        ls, lx = lmom(y)
        lo, hi = profile_interval(y, sigma, xi, ll, vs, cv, vx)
        values = [("mle_scale", sigma), ("mle_shape", xi), ("mle_loglik", ll),
                  ("mle_var_scale", vs), ("mle_cov", cv), ("mle_var_shape", vx),
                  ("lmom_scale", ls), ("lmom_shape", lx),
                  ("level", sigma * c(xi)), ("profile_lower", lo), ("profile_upper", hi)]
        for key, v in values:
            lines.append(f"{name} {key} {mp.nstr(v, 25)}")
    with open(os.path.join(HERE, "gpd_reference.txt"), "w") as f:
        f.write("# sample key value: made by make_gpd_reference.py (mpmath, 30 digits)\n")
        f.write(f"# excesses (danish over 10); level exceeded once in {M}, profile 95%\n")
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
