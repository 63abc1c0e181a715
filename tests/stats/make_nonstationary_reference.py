#!/usr/bin/python3
"""Reference values of GEV fits with covariates on real series and their
years, computed at 30 digits with mpmath, written to
data/nonstationary_reference.txt as "case key value" lines.

A case is a series, its first year and the model: "loc" (location linear in
the year) or "loc,scale" (and the log-scale). Keys: coef0.. and se0.. in the
user's units and order (mu0 at year 0, mu_time, then sigma or log_sigma0,
log_sigma_time, then xi; standard errors from the inverse observed
information), loglik, lr_stationary, lr_gumbel (and lr_loc for loc,scale),
and the 95% profile-likelihood bounds: rl100_first_{lower,upper} and
rl100_last_{lower,upper} (the effective 100-year level at the first and last
year), change100_{lower,upper} (its change between them), and lnpr,
lnpr_{lower,upper} (ln of the probability ratio, last year to first, of the
100-year level of the first year, that level held fixed).

Each bound is the extreme of the quantity on the contour
l = l_max - crit / 2, found by Newton on the stationarity system.
Run once with Debian's Python: /usr/bin/python3 make_nonstationary_reference.py
"""
import os

import mpmath as mp

mp.mp.dps = 30
HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data")
CRIT = 2 * mp.erfinv(mp.mpf(95) / 100) ** 2
YP100 = -mp.log(1 - mp.mpf(1) / 100)  # -ln(1 - 1/T) of T = 100
CASES = [("venice_sealevel", 1931, "loc"), ("venice_sealevel", 1931, "loc,scale"),
         ("portpirie_sealevel", 1923, "loc")]


def read_sample(name):
    with open(os.path.join(HERE, name + ".txt")) as f:
        return [mp.mpf(float(line)) for line in f if line.strip()]


class Model:
    """theta = (xi, b0, b1, s0[, s1]) with mu = b0 + b1 tc, ln sigma = s0 + s1 tc
    and tc the year less the mean year; gumbel fixes xi at 0, stationary b1 = 0."""

    def __init__(self, x, t, scale, trend=True, gumbel=False):
        self.x, self.scale, self.trend, self.gumbel = x, scale, trend, gumbel
        self.tbar = sum(t) / len(t)
        self.tc = [ti - self.tbar for ti in t]

    def full(self, th):
        th = list(th)
        if self.gumbel:
            th = [mp.mpf(0)] + th
        if not self.trend:
            th = th[:2] + [mp.mpf(0)] + th[2:]
        if not self.scale:
            th = th + [mp.mpf(0)]
        return th

    def params(self, th, tc):
        xi, b0, b1, s0, s1 = self.full(th)
        return b0 + b1 * tc, mp.exp(s0 + s1 * tc), xi

    def loglik(self, th):
        total = mp.mpf(0)
        for x, tc in zip(self.x, self.tc):
            mu, sigma, xi = self.params(th, tc)
            z = (x - mu) / sigma
            if xi == 0:
                L = z
            else:
                w = 1 + xi * z
                if w <= 0:
                    return -mp.inf
                L = mp.log(w) / xi
            total += -mp.log(sigma) - (1 + xi) * L - mp.exp(-L)
        return total

    def grad(self, th):
        """Analytic gradient in the free coordinates of theta."""
        g = [mp.mpf(0)] * 5
        for x, tc in zip(self.x, self.tc):
            mu, sigma, xi = self.params(th, tc)
            z = (x - mu) / sigma
            if xi == 0:
                L, w = z, mp.mpf(1)
                c = 1 - mp.exp(-z)
                gx = mp.mpf(0)
            else:
                w = 1 + xi * z
                L = mp.log(w) / xi
                e = mp.exp(-L)
                c = ((1 + xi) - e) / w
                lx = (z / w - L) / xi
                gx = -L - (1 + xi) * lx + e * lx
            gm, gs = c / sigma, -1 + z * c
            g[0] += gx
            g[1] += gm
            g[2] += gm * tc
            g[3] += gs
            g[4] += gs * tc
        keep = [not self.gumbel, True, self.trend, True, self.scale]
        return [gi for gi, k in zip(g, keep) if k]

    def hessian(self, th):
        k = len(th)
        h = [[None] * k for _ in range(k)]
        for j in range(k):
            def gj(s, j=j):
                u = list(th)
                u[j] += s
                return self.grad(u)
            col = [mp.diff(lambda s, i=i: gj(s)[i], 0) for i in range(k)]
            for i in range(k):
                h[i][j] = col[i]
        return mp.matrix(h)

    def fit(self, start):
        th = mp.matrix([mp.mpf(v) for v in start])
        for _ in range(100):
            g = mp.matrix(self.grad(list(th)))
            step = mp.lu_solve(self.hessian(list(th)), g)
            l0, t = self.loglik(list(th)), mp.mpf(1)
            while self.loglik(list(th - t * step)) < l0 - mp.mpf(10) ** -25 and t > 1e-6:
                t /= 2
            th = th - t * step
            if mp.norm(step) < mp.mpf(10) ** -26:
                break
        return list(th)

    def user(self, th):
        """Coefficients in the user's units and their Jacobian in theta."""
        xi, b0, b1, s0, s1 = self.full(th)
        names, vals = [], []
        vals += [b0 - b1 * self.tbar, b1] if self.trend else [b0]
        if self.scale:
            vals += [s0 - s1 * self.tbar, s1]
        else:
            vals += [mp.exp(s0)]
        if not self.gumbel:
            vals += [xi]
        return vals


def num_jacobian(f, th):
    k = len(th)
    cols = []
    for j in range(k):
        def fj(s, j=j):
            u = list(th)
            u[j] += s
            return f(u)
        m = len(f(th))
        cols.append([mp.diff(lambda s, i=i: fj(s)[i], 0) for i in range(m)])
    return mp.matrix([[cols[j][i] for j in range(k)] for i in range(len(cols[0]))])


def contour_extremes(m, th, q, crit):
    """The two extremes of q on the contour l = l_max - crit / 2: damped
    Newton on grad l = lambda grad q, l = l_max - crit / 2, the Hessian of q
    by central differences (it only steers the steps)."""
    k = len(th)
    target = m.loglik(th) - crit / 2
    cov = -mp.inverse(m.hessian(th))
    h = mp.mpf(10) ** -12

    def gradq(u):
        return [mp.diff(lambda s, j=j: q([u[i] + (s if i == j else 0) for i in range(k)]), 0)
                for j in range(k)]

    def residual(v):
        u, lam = v[:k], v[k]
        if m.loglik(u) == -mp.inf:
            return None
        try:
            gqu = gradq(u)
        except ValueError:
            return None
        gl = m.grad(u)
        return mp.matrix([gl[i] - lam * gqu[i] for i in range(k)] + [m.loglik(u) - target])

    def size(r):
        return mp.sqrt(sum(r[i] ** 2 * cov[i, i] for i in range(k)) + r[k] ** 2)

    gq0 = mp.matrix(gradq(th))
    c = mp.sqrt(crit / (gq0.T * cov * gq0)[0])
    sg = cov * gq0
    out = []
    for side in (-1, 1):
        v = [th[i] + side * c * sg[i] for i in range(k)] + [-side * c]
        r = residual(v)
        for _ in range(100):
            if size(r) < mp.mpf(10) ** -27:
                break
            u, lam = v[:k], v[k]
            H = m.hessian(u)
            J = mp.matrix(k + 1, k + 1)
            gqu = gradq(u)
            gl = m.grad(u)
            for j in range(k):
                up = list(u); up[j] += h
                dn = list(u); dn[j] -= h
                gp, gm = gradq(up), gradq(dn)
                for i in range(k):
                    J[i, j] = H[i, j] - lam * (gp[i] - gm[i]) / (2 * h)
                J[k, j] = gl[j]
            for i in range(k):
                J[i, k] = -gqu[i]
            dx = mp.lu_solve(J, r)
            t = mp.mpf(1)
            while True:
                w = [v[i] - t * dx[i] for i in range(k + 1)]
                rw = residual(w)
                if rw is not None and size(rw) < size(r):
                    v, r = w, rw
                    break
                t /= 2
                if t < 1e-8:
                    raise RuntimeError("no descent")
        else:
            raise RuntimeError("no convergence")
        out.append(q(v[:k]))
    return out


def main():
    lines = []
    for name, first, model in CASES:
        x = read_sample(name)
        t = [mp.mpf(first + i) for i in range(len(x))]
        scale = model == "loc,scale"
        case = name + ":" + model
        # Stationary GEV first, then the trend fit from it.
        m0 = Model(x, t, False, trend=False)
        mean = sum(x) / len(x)
        sd = mp.sqrt(sum((v - mean) ** 2 for v in x) / len(x))
        th0 = m0.fit([0.05, mean - 0.45 * sd, mp.log(0.78 * sd)])
        m = Model(x, t, scale)
        start = [th0[0], th0[1], 0, th0[2]] + ([0] if scale else [])
        th = m.fit(start)
        l = m.loglik(th)
        cov = -mp.inverse(m.hessian(th))
        jac = num_jacobian(m.user, th)
        ucov = jac * cov * jac.T
        for i, v in enumerate(m.user(th)):
            lines.append((case, "coef%d" % i, v))
            lines.append((case, "se%d" % i, mp.sqrt(ucov[i, i])))
        lines.append((case, "loglik", l))
        lines.append((case, "lr_stationary", 2 * (l - m0.loglik(th0))))
        mg = Model(x, t, scale, gumbel=True)
        thg = mg.fit(th[1:])
        lines.append((case, "lr_gumbel", 2 * (l - mg.loglik(thg))))
        if scale:
            ml = Model(x, t, False)
            thl = ml.fit(th[:4])
            lines.append((case, "lr_loc", 2 * (l - ml.loglik(thl))))
        tc0, tc1 = m.tc[0], m.tc[-1]

        def level(u, tc, y=YP100):
            mu, sigma, xi = m.params(u, tc)
            return mu + sigma * (y ** (-xi) - 1) / xi

        for label, tc in (("first", tc0), ("last", tc1)):
            lo, hi = contour_extremes(m, th, lambda u, tc=tc: level(u, tc), CRIT)
            lines.append((case, "rl100_%s_lower" % label, lo))
            lines.append((case, "rl100_%s_upper" % label, hi))
        lo, hi = contour_extremes(m, th, lambda u: level(u, tc1) - level(u, tc0), CRIT)
        lines.append((case, "change100_lower", lo))
        lines.append((case, "change100_upper", hi))
        xfix = level(th, tc0)

        def lnpr(u):
            def lnsf(tc):
                mu, sigma, xi = m.params(u, tc)
                base = 1 + xi * (xfix - mu) / sigma
                if base <= 0:
                    raise ValueError("the level is beyond the upper end")
                v = base ** (-1 / xi)
                return mp.log(-mp.expm1(-v))
            return lnsf(tc1) - lnsf(tc0)

        lines.append((case, "lnpr", lnpr(th)))
        lo, hi = contour_extremes(m, th, lnpr, CRIT)
        lines.append((case, "lnpr_lower", lo))
        lines.append((case, "lnpr_upper", hi))
    with open(os.path.join(HERE, "nonstationary_reference.txt"), "w") as f:
        for case, key, v in lines:
            f.write("%s %s %s\n" % (case, key, mp.nstr(v, 25)))


if __name__ == "__main__":
    main()
