#!/usr/bin/python3
"""Reference values of the GEV fits of the eight real samples in data/,
computed at 30 digits with mpmath, written to data/gev_reference.txt as
"sample key value" lines.

Keys: lmom_{loc,scale,shape} (L-moments, exact root of the tau3 equation);
mle_{loc,scale,shape}, mle_se_{loc,scale,shape} (inverse observed
information, by numerical differentiation), mle_loglik; gumbel_loglik and
deviance (2 (l_gev - l_gumbel)); shape_{lower,upper} and
rl100_{lower,upper} (GEV 100-year level), gumbel_rl100_{lower,upper}: the
95% profile-likelihood bounds.
Run once with Debian's Python: /usr/bin/python3 make_gev_reference.py
"""
import os

import mpmath as mp

mp.mp.dps = 30
HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data")
SAMPLES = ["dover_sealevel", "lisbon_wind", "ocmulgee_flood", "oxford_maxtemp",
           "portpirie_sealevel", "sask_flood", "uccle_dayrain", "venice_sealevel"]
CRIT = 2 * mp.erfinv(mp.mpf(95) / 100) ** 2  # chi-square(1) 0.95 quantile
Y100 = -mp.log(-mp.log(1 - mp.mpf(1) / 100))  # Gumbel reduced variate of T = 100


def read_sample(name):
    with open(os.path.join(HERE, name + ".txt")) as f:
        return [mp.mpf(float(line)) for line in f if line.strip()]


def lmom(xs):
    xs = sorted(xs)
    n = len(xs)
    b = [mp.mpf(0)] * 3
    for i, x in enumerate(xs):
        b[0] += x
        b[1] += x * i / (n - 1)
        b[2] += x * i * (i - 1) / ((n - 1) * (n - 2))
    b = [v / n for v in b]
    l1, l2, l3 = b[0], 2 * b[1] - b[0], 6 * b[2] - 6 * b[1] + b[0]
    tau3 = l3 / l2
    xi = mp.findroot(lambda k: 2 * (1 - 3 ** k) / (1 - 2 ** k) - 3 - tau3, (-0.9, 0.9),
                     solver="anderson")
    sigma = l2 * xi / ((2 ** xi - 1) * mp.gamma(1 - xi))
    mu = l1 - sigma * (mp.gamma(1 - xi) - 1) / xi
    return mu, sigma, xi


def loglik(xs, mu, sigma, xi):
    total = mp.mpf(0)
    for x in xs:
        z = (x - mu) / sigma
        if sigma <= 0:
            return -mp.inf
        if xi == 0:
            L = z
        else:
            w = 1 + xi * z
            if w <= 0:
                return -mp.inf
            L = mp.log(w) / xi
        total += -mp.log(sigma) - (1 + xi) * L - mp.exp(-L)
    return total


def grad(xs, mu, sigma, xi):
    """Gradient of the log-likelihood in (mu, sigma, xi), xi != 0."""
    gm = gs = gx = mp.mpf(0)
    for x in xs:
        z = (x - mu) / sigma
        w = 1 + xi * z
        L = mp.log(w) / xi
        t = mp.exp(-L)
        c = ((1 + xi) - t) / w
        gm += c / sigma
        gs += -1 / sigma + z * c / sigma
        lx = (z / w - L) / xi
        gx += -L - (1 + xi) * lx + t * lx
    return gm, gs, gx


def gumbel_grad(xs, mu, sigma):
    gm = gs = mp.mpf(0)
    for x in xs:
        z = (x - mu) / sigma
        t = mp.exp(-z)
        gm += (1 - t) / sigma
        gs += -1 / sigma + z * (1 - t) / sigma
    return gm, gs


def ascend(f, g, x, scale_index):
    """Maximises f from x by Newton steps on its gradient g (Jacobian by
    differences at 30 digits), halved until f rises; stops at a relative step
    of 1e-25. A start outside the support gets a larger scale."""
    x = mp.matrix(list(x))
    k = len(x)
    fx = f(*x)
    while fx == -mp.inf:
        x[scale_index] *= mp.mpf(1.25)
        fx = f(*x)
    for _ in range(200):
        gx = mp.matrix(list(g(*x)))
        h = mp.matrix(k, k)
        eps = mp.mpf(10) ** -15
        for j in range(k):
            xp = x.copy()
            xp[j] += eps * (1 + abs(x[j]))
            gp = mp.matrix(list(g(*xp)))
            for i in range(k):
                h[i, j] = (gp[i] - gx[i]) / (xp[j] - x[j])
        h = (h + h.T) / 2
        try:
            step = -(h ** -1) * gx
            if (step.T * gx)[0] <= 0:
                raise ZeroDivisionError
        except ZeroDivisionError:
            step = gx * (mp.mpf(1) / (1 + mp.norm(gx)))  # not concave here: climb
        t = mp.mpf(1)
        while True:
            xn = x + t * step
            fn = f(*xn)
            if fn >= fx - mp.mpf(10) ** -26 * (1 + abs(fx)):
                break
            t /= 2
            if t < mp.mpf(10) ** -20:
                return list(x)
        x, fx = xn, fn
        if mp.norm(t * step) < mp.mpf(10) ** -25 * (1 + mp.norm(x)):
            return list(x)
    raise ValueError("no convergence")


def gev_mle(xs, start):
    mu, sigma, xi = mp.findroot(lambda m, s, k: grad(xs, m, s, k), start)
    return mu, sigma, xi


def covariance(xs, p):
    f = lambda m, s, k: loglik(xs, m, s, k)
    h = mp.matrix(3, 3)
    for i in range(3):
        for j in range(3):
            order = [0, 0, 0]
            order[i] += 1
            order[j] += 1
            h[i, j] = -mp.diff(f, p, tuple(order))
    return h ** -1


def profile_root(lp, lmax, psi_hat, step, limit=None):
    """psi beyond psi_hat (step's sign) with 2 (lmax - lp(psi)) = CRIT."""
    g = lambda psi: 2 * (lmax - lp(psi)) - CRIT
    inner, outer = psi_hat, psi_hat + step / 4
    while g(outer) < 0:  # small steps: the last solution starts the next
        inner, outer = outer, outer + step / 4
    return mp.findroot(g, (inner, outer), solver="anderson")


class Profile:
    """l maximised over the nuisance parameters, from the last solution."""

    def __init__(self, solve, start):
        self.solve, self.last = solve, start

    def __call__(self, psi):
        self.last, value = self.solve(psi, self.last)
        return value


def main():
    lines = ["# sample key value: made by make_gev_reference.py (mpmath, 30 digits)"]
    for name in SAMPLES:
        xs = read_sample(name)
        out = {}
        lm = lmom(xs)
        out.update(lmom_loc=lm[0], lmom_scale=lm[1], lmom_shape=lm[2])
        p = gev_mle(xs, lm)
        lmax = loglik(xs, *p)
        cov = covariance(xs, p)
        out.update(mle_loc=p[0], mle_scale=p[1], mle_shape=p[2], mle_loglik=lmax,
                   mle_se_loc=mp.sqrt(cov[0, 0]), mle_se_scale=mp.sqrt(cov[1, 1]),
                   mle_se_shape=mp.sqrt(cov[2, 2]))
        g = mp.findroot(lambda m, s: gumbel_grad(xs, m, s), (lm[0], lm[1]))
        lg = loglik(xs, g[0], g[1], 0)
        out.update(gumbel_loglik=lg, deviance=2 * (lmax - lg))

        def shape_solve(xi, last):
            m, s = ascend(lambda m, s: loglik(xs, m, s, xi),
                          lambda m, s: grad(xs, m, s, xi)[:2], last, 1)
            return (m, s), loglik(xs, m, s, xi)

        se = mp.sqrt(cov[2, 2])
        for key, sign in (("shape_lower", -1), ("shape_upper", 1)):
            out[key] = profile_root(Profile(shape_solve, p[:2]), lmax, p[2], sign * se)

        # Quantile z of T = 100: mu = z - sigma y(xi), y = (e^(xi y0) - 1) / xi.
        def y(xi):
            return mp.expm1(xi * Y100) / xi

        def dy(xi):
            return (xi * Y100 * mp.exp(xi * Y100) - mp.expm1(xi * Y100)) / xi ** 2

        def rl_solve(z, last):
            def eqs(s, k):
                gm, gs, gx = grad(xs, z - s * y(k), s, k)
                return gs - y(k) * gm, gx - s * dy(k) * gm
            s, k = ascend(lambda s, k: loglik(xs, z - s * y(k), s, k), eqs, last, 0)
            return (s, k), loglik(xs, z - s * y(k), s, k)

        zhat = p[0] + p[1] * y(p[2])
        grad_z = mp.matrix([1, y(p[2]), p[1] * dy(p[2])])
        se_z = mp.sqrt((grad_z.T * cov * grad_z)[0])
        for key, sign in (("rl100_lower", -1), ("rl100_upper", 1)):
            out[key] = profile_root(Profile(rl_solve, (p[1], p[2])), lmax, zhat, sign * se_z)

        def gumbel_rl_solve(z, last):
            def eq(s):
                gm, gs = gumbel_grad(xs, z - s * Y100, s)
                return gs - Y100 * gm
            s = ascend(lambda s: loglik(xs, z - s * Y100, s, 0), lambda s: (eq(s),), (last,), 0)[0]
            return s, loglik(xs, z - s * Y100, s, 0)

        zg = g[0] + g[1] * Y100
        for key, sign in (("gumbel_rl100_lower", -1), ("gumbel_rl100_upper", 1)):
            out[key] = profile_root(Profile(gumbel_rl_solve, g[1]), lg, zg, sign * g[1])
        for key, value in out.items():
            lines.append(f"{name} {key} {mp.nstr(value, 25)}")
        print(name, "done", flush=True)
    with open(os.path.join(HERE, "gev_reference.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
