#!/usr/bin/python3
"""Reference values of the GPD fit with a time trend in ln sigma on a real
daily record, computed at 30 digits with mpmath.

The record: the Danish fire losses of examples/daily, one value a day (the
largest of a day), the days over 10 each a peak (no declustering), timed by
the day's decimal year, year + (day of year - 1) / (days in that year).
Writes data/danish_peaks_over10.txt ("time excess" lines, the doubles as
the tool forms them) and data/nonstationary_gpd_reference.txt ("key value"
lines).

Keys: rate (peaks a year, days observed / 365.25 years), coef0..2 and se0..2
in the user's units and order (log_sigma0 at year 0, log_sigma_time, xi;
errors from the inverse observed information), loglik, lr_stationary, and
the 95% profile-likelihood bounds: rl100_first_{lower,upper} and
rl100_last_{lower,upper} (the effective 100-year level, threshold included,
at the first and last peak), change100_{lower,upper} (its change between
them), lnpr and lnpr_{lower,upper} (ln of the probability ratio, last peak
to first, of the first peak's 100-year level).

The bounds are the contour extremes of make_nonstationary_reference.py; each
level bound is checked on its own: the largest log-likelihood with the level
held at the bound (log_sigma0 solved from it, the rest maximised) is
l_max - crit / 2.
Run once with Debian's Python: /usr/bin/python3 make_nonstationary_gpd_reference.py
"""
import csv
import os
import sys
from datetime import date

import mpmath as mp

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_nonstationary_reference import CRIT, HERE, Model, contour_extremes, num_jacobian  # noqa: E402

mp.mp.dps = 30
THRESHOLD = 10
SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples", "daily",
                      "danish_fire_losses.csv")


def read_peaks():
    """The days over the threshold as (decimal year, excess) doubles, and the rate."""
    day_max = {}
    with open(SOURCE) as f:
        for row in csv.DictReader(f):
            v = float(row["loss"])
            day_max[row["date"]] = max(v, day_max.get(row["date"], -float("inf")))
    peaks = []
    for d in sorted(day_max):
        if not day_max[d] > THRESHOLD:
            continue
        y = date.fromisoformat(d)
        n = (date(y.year + 1, 1, 1) - date(y.year, 1, 1)).days
        peaks.append((y.year + (y.timetuple().tm_yday - 1) / n, day_max[d] - THRESHOLD))
    return peaks, len(peaks) / (len(day_max) / 365.25)


class Gpd(Model):
    """theta = (xi, s0[, s1]) with ln sigma = s0 + s1 tc, tc the time less its
    mean; the GEV model's Hessian and Newton fit over this likelihood."""

    def __init__(self, y, t, trend=True):
        self.y, self.trend = y, trend
        self.tbar = sum(t) / len(t)
        self.tc = [ti - self.tbar for ti in t]

    def sigma(self, th, tc):
        return mp.exp(th[1] + (th[2] * tc if self.trend else 0))

    def loglik(self, th):
        xi, total = th[0], mp.mpf(0)
        for y, tc in zip(self.y, self.tc):
            s = self.sigma(th, tc)
            w = 1 + xi * y / s
            if w <= 0:
                return -mp.inf
            total += -mp.log(s) - (1 + 1 / xi) * mp.log(w)
        return total

    def grad(self, th):
        xi = th[0]
        g = [mp.mpf(0)] * len(th)
        for y, tc in zip(self.y, self.tc):
            s = self.sigma(th, tc)
            z = y / s
            w = 1 + xi * z
            g[0] += mp.log(w) / xi ** 2 - (1 + 1 / xi) * z / w
            gs = -1 + (1 + xi) * z / w
            g[1] += gs
            if self.trend:
                g[2] += gs * tc
        return g

    def user(self, th):
        return [th[1] - th[2] * self.tbar, th[2], th[0]]


def main():
    peaks, rate = read_peaks()
    with open(os.path.join(HERE, "danish_peaks_over10.txt"), "w") as f:
        for t, y in peaks:
            f.write("%r %r\n" % (t, y))
    t = [mp.mpf(p[0]) for p in peaks]
    y = [mp.mpf(p[1]) for p in peaks]
    m0 = Gpd(y, t, trend=False)
    mean = sum(y) / len(y)
    th0 = m0.fit([0.5, mp.log(mean / 2)])
    m = Gpd(y, t)
    th = m.fit([th0[0], th0[1], 0])
    l = m.loglik(th)
    cov = -mp.inverse(m.hessian(th))
    jac = num_jacobian(m.user, th)
    ucov = jac * cov * jac.T
    lines = [("rate", mp.mpf(rate))]
    for i, v in enumerate(m.user(th)):
        lines.append(("coef%d" % i, v))
        lines.append(("se%d" % i, mp.sqrt(ucov[i, i])))
    lines.append(("loglik", l))
    lines.append(("lr_stationary", 2 * (l - m0.loglik(th0))))
    tc0, tc1 = m.tc[0], m.tc[-1]
    r100 = mp.mpf(rate) * 100

    def excess_level(u, tc):
        return m.sigma(u, tc) * (r100 ** u[0] - 1) / u[0]

    def profile_deviance(tc, bound):
        """2 (l_max - max l) with the excess level at tc held at the bound:
        log_sigma0 solved from the level, xi and the slope maximised by damped
        Newton, continued from the estimate along levels toward the bound."""
        v = [th[0], th[2]]
        for step_q in range(1, 21):
            q = excess_level(th, tc) * (bound / excess_level(th, tc)) ** (mp.mpf(step_q) / 20)

            def f(a, b, q=q):
                return m.loglik([a, mp.log(q * a / (r100 ** a - 1)) - b * tc, b])

            for _ in range(60):
                g = mp.matrix([mp.diff(f, (v[0], v[1]), (1, 0)), mp.diff(f, (v[0], v[1]), (0, 1))])
                h12 = mp.diff(f, (v[0], v[1]), (1, 1))
                h = mp.matrix([[mp.diff(f, (v[0], v[1]), (2, 0)), h12], [h12, mp.diff(f, (v[0], v[1]), (0, 2))]])
                step, a = mp.lu_solve(h, g), mp.mpf(1)
                while not f(v[0] - a * step[0], v[1] - a * step[1]) > f(*v) - mp.mpf(10) ** -25 and a > 1e-6:
                    a /= 2
                v = [v[0] - a * step[0], v[1] - a * step[1]]
                if mp.norm(step) < mp.mpf(10) ** -20:
                    break
        return 2 * (l - f(*v))

    for label, tc in (("first", tc0), ("last", tc1)):
        bounds = contour_extremes(m, th, lambda u, tc=tc: excess_level(u, tc), CRIT)
        for side, b in zip(("lower", "upper"), bounds):
            dv = profile_deviance(tc, b)
            assert abs(dv - CRIT) < mp.mpf(10) ** -15, (label, side, dv, CRIT, b)
            lines.append(("rl100_%s_%s" % (label, side), THRESHOLD + b))
    lo, hi = contour_extremes(m, th, lambda u: excess_level(u, tc1) - excess_level(u, tc0), CRIT)
    lines += [("change100_lower", lo), ("change100_upper", hi)]
    xfix = excess_level(th, tc0)

    def lnpr(u):
        def lnsf(tc):
            return -mp.log(1 + u[0] * xfix / m.sigma(u, tc)) / u[0]
        return lnsf(tc1) - lnsf(tc0)

    lines.append(("lnpr", lnpr(th)))
    lo, hi = contour_extremes(m, th, lnpr, CRIT)
    lines += [("lnpr_lower", lo), ("lnpr_upper", hi)]
    with open(os.path.join(HERE, "nonstationary_gpd_reference.txt"), "w") as f:
        for key, v in lines:
            f.write("%s %s\n" % (key, mp.nstr(v, 25)))


if __name__ == "__main__":
    main()
