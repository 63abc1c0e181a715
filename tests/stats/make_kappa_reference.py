#!/usr/bin/python3
"""Reference values of the Kappa and Wakeby distributions and of their
L-moment fits, computed at 30 digits with mpmath; written to
data/kappa_reference.txt, one record per line:

  kappa_cdf loc scale k h x log_cdf log_sf log_pdf
  kappa_quantile loc scale k h p quantile(p) quantile_complement(p)
  kappa_lmom loc scale k h l1 l2 t3 t4 t5
  kappa_fit l1 l2 t3 t4 loc scale k h
  wakeby_cdf xi alpha beta gamma delta x log_cdf log_sf log_pdf
  wakeby_quantile xi alpha beta gamma delta p quantile(p) quantile_complement(p)
  wakeby_lmom xi alpha beta gamma delta l1 l2 t3 t4 t5
  wakeby_fit l1 l2 t3 t4 t5 xi alpha beta gamma delta
  gev_tau4 t3 tau4   (the GEV's curve in the L-moment ratio diagram)

Inputs (x, p and the ratios of the fits) are written as doubles and every
reference is computed at that double. The L-moments come from the gamma
function expressions and are checked here against numerical integration of
the quantile function; the fits are roots found by mpmath's own solver,
independent of the program's method.
Run once with Debian's Python: /usr/bin/python3 make_kappa_reference.py
"""
import os

import mpmath as mp

mp.mp.dps = 30
HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data")


def d(v):
    """The double nearest v, as an mpf."""
    return mp.mpf(float(v))


def s(v):
    return mp.nstr(v, 25, min_fixed=-mp.inf, max_fixed=mp.inf) if v != 0 else "0"


def r17(v):
    return repr(float(v))


# --- Kappa -----------------------------------------------------------------

def kappa_x(l, loc, scale, k, h):
    """x at ln F = l, through the limits k = 0 and h = 0; expm1 and log1p keep
    every digit where h l or k ln y is small."""
    y = -l if h == 0 else -mp.expm1(h * l) / h
    return loc + scale * (-mp.log(y) if k == 0 else -mp.expm1(k * mp.log(y)) / k)


def kappa_quantile(p, loc, scale, k, h):
    return kappa_x(mp.log(p), loc, scale, k, h)


def kappa_quantile_complement(q, loc, scale, k, h):
    return kappa_x(mp.log1p(-q), loc, scale, k, h)


def kappa_logs(x, loc, scale, k, h):
    z = (x - loc) / scale
    w = -z if k == 0 else mp.log1p(-k * z) / k
    y = mp.exp(w)
    lf = -y if h == 0 else mp.log1p(-h * y) / h
    lsf = mp.log(-mp.expm1(lf))
    lpdf = -mp.log(scale) + (1 - k) * w + (1 - h) * lf
    return lf, lsf, lpdf


def g(r, k, h):
    r = mp.mpf(r)
    if h > 0:
        return r * mp.gamma(1 + k) * mp.gamma(r / h) / (h ** (1 + k) * mp.gamma(1 + k + r / h))
    if h == 0:
        return r ** (-k) * mp.gamma(1 + k)
    return r * mp.gamma(1 + k) * mp.gamma(-k - r / h) / ((-h) ** (1 + k) * mp.gamma(1 - r / h))


def kappa_lmom_exact(loc, scale, k, h):
    if k == 0:  # the limit: derivatives of g_r in k at 0
        gs = [mp.diff(lambda t: g(r, t, h), 0) for r in range(1, 6)]
        l1 = loc - scale * gs[0]
        c = scale
    else:
        gs = [g(r, k, h) for r in range(1, 6)]
        l1 = loc + scale * (1 - gs[0]) / k
        c = scale / k
    g1, g2, g3, g4, g5 = gs
    l2 = c * (g1 - g2)
    t3 = (-g1 + 3 * g2 - 2 * g3) / (g1 - g2)
    t4 = (g1 - 6 * g2 + 10 * g3 - 5 * g4) / (g1 - g2)
    t5 = (-g1 + 10 * g2 - 30 * g3 + 35 * g4 - 14 * g5) / (g1 - g2)
    return l1, l2, t3, t4, t5


def lmom_by_quadrature(q):
    """l1..l5 of the quantile function q(F) by integration against the
    shifted Legendre polynomials."""
    polys = [lambda u: 1, lambda u: 2 * u - 1, lambda u: 6 * u * u - 6 * u + 1,
             lambda u: 20 * u ** 3 - 30 * u * u + 12 * u - 1,
             lambda u: 70 * u ** 4 - 140 * u ** 3 + 90 * u * u - 20 * u + 1]
    with mp.workdps(40):
        ls = [mp.quad(lambda u: q(u) * pp(u), [0, mp.mpf(1) / 2, 1]) for pp in polys]
    return ls[0], ls[1], ls[2] / ls[1], ls[3] / ls[1], ls[4] / ls[1]


def check(a, b, what):
    for u, v in zip(a, b):
        assert abs(u - v) < mp.mpf("1e-20") * (1 + abs(v)), (what, u, v)


def kappa_taus(k, h):
    return kappa_lmom_exact(0, 1, k, h)[2:4]


def kappa_fit(l1, l2, t3, t4, start):
    f = lambda a, b: [v - t for v, t in zip(kappa_taus(a, b), (t3, t4))]
    with mp.workdps(15):  # a first root at low precision, then refined
        k, h = mp.findroot(f, start, tol=1e-20, maxsteps=200)
    k, h = mp.findroot(f, (k, h))
    m = kappa_lmom_exact(0, 1, k, h)
    scale = l2 / m[1]
    return l1 - scale * m[0], scale, k, h


# --- Wakeby ----------------------------------------------------------------

def wakeby_quantile(p, xi, a, b, c, dd, u=None):
    """x at F = p, or at 1 - F = u when u is given."""
    u = 1 - mp.mpf(p) if u is None else mp.mpf(u)
    x = xi
    x += a * (-mp.log(u)) if b == 0 else a / b * (1 - u ** b)
    x += c * (-mp.log(u)) if dd == 0 else -c / dd * (1 - u ** (-dd))
    return x


def wakeby_logs(x, w):
    xi, a, b, c, dd = w
    # t = -ln(1 - F), the root of x(t) = x
    f = lambda t: wakeby_quantile(-mp.expm1(-t), *w) - x
    lo, hi = mp.mpf(0), mp.mpf(1)
    while f(hi) < 0:
        lo, hi = hi, 2 * hi
    slope_at = lambda t: a * mp.exp(-b * t) + c * mp.exp(dd * t)
    for _ in range(60):  # bisection on a log scale, then Newton's method
        mid = mp.sqrt(lo * hi) if lo > 0 else hi / 2 ** 40 if hi > 2 ** -40 else hi / 2
        lo, hi = (mid, hi) if f(mid) < 0 else (lo, mid)
    t = hi
    for _ in range(8):
        t -= f(t) / slope_at(t)
    slope = slope_at(t)
    return mp.log(-mp.expm1(-t)), -t, -t - mp.log(slope)


def wakeby_lmom_exact(w):
    xi, a, b, c, dd = w
    out = [xi + a / (1 + b) + c / (1 - dd)]
    ta, tc = a / (1 + b), c / (1 - dd)
    for r in range(2, 6):
        ta *= (r - 2 - b if r > 2 else 1) / (r + b)
        tc *= (r - 2 + dd if r > 2 else 1) / (r - dd)
        out.append(ta + tc)
    return out[0], out[1], out[2] / out[1], out[3] / out[1], out[4] / out[1]


def wakeby_fit(l1, l2, t3, t4, t5, start, xi_fixed=None):
    """Solve l2..l5 (and l1 when xi is fixed) for the parameters."""
    target = (l2, t3, t4, t5) if xi_fixed is None else (l1, l2, t3, t4)

    def eqs(a, b, c, dd):
        m = wakeby_lmom_exact((0 if xi_fixed is None else xi_fixed, a, b, c, dd))
        got = (m[1], m[2], m[3], m[4]) if xi_fixed is None else m[:4]
        return [u - v for u, v in zip(got, target)]

    a, b, c, dd = mp.findroot(eqs, start)
    xi = xi_fixed if xi_fixed is not None else l1 - a / (1 + b) - c / (1 - dd)
    return xi, a, b, c, dd


def well_conditioned(x, lf, lsf, lpdf):
    """Whether ln F and ln(1 - F) are determined by the double x to about
    40 units in the last place: not so next to a lower end that F^h resolves
    (h > 0), where x, rounded, may even fall outside the support."""
    if any(isinstance(v, mp.mpc) for v in (lf, lsf, lpdf)):
        return False
    f = mp.exp(lpdf)
    cond_f = abs(x * f / (mp.exp(lf) * lf))
    cond_s = abs(x * f / (mp.exp(lsf) * lsf))
    return max(cond_f, cond_s) < 40


# --- the records -----------------------------------------------------------

KAPPAS = [(10, 2, 0.2, 0.3), (0, 1, -0.15, -0.4), (5, 1.5, 0, 0), (0, 1, 1e-9, 0.5),
          (0, 1, -0.3, 1), (2, 0.7, 0.25, -1), (1, 0.5, 0.4, 2.0), (-3, 4, -0.05, 1e-10),
          (0, 1, 0.1, -1e-12), (100, 20, -0.2, 0), (0, 1, 0, 0.8), (0, 1, 0.6, 6.0)]
PROBS = ["1e-12", "0.001", "0.1", "0.5", "0.9", "0.999", "1e-10"]  # the last as 1 - p
WAKEBYS = [(0, 1, 5, 0.5, 0.2), (10, 20, 4, 2, 0.3), (0, 3, 0.5, 0.2, -0.3),
           (1, -0.5, 2, 1.5, 0.1), (0, 2, 1, 0, 0), (2, 1, 0.01, 1, 1e-8)]
KAPPA_FITS = [(1, 0.3, 0.2, 0.15), (100, 25, 0.05, 0.12), (1, 0.2, -0.1, 0.05),
              (1, 0.25, 0.4, 0.2), (1, 0.3, 0.6, 0.45), (1, 0.2, 0.1, 0.1745),
              (50, 10, 0.3, 0.1), (1, 0.1, -0.5, 0.3), (1, 0.3, 0.0, -0.1)]


def main():
    lines = ["# made by make_kappa_reference.py (mpmath, 30 digits)"]
    for loc, scale, k, h in KAPPAS:
        par = [d(loc), d(scale), d(k), d(h)]
        head = " ".join(r17(v) for v in (loc, scale, k, h))
        for ps in PROBS:
            p = mp.mpf(ps) if ps != "1e-10" else 1 - mp.mpf(ps)
            x = d(kappa_quantile(p, *par))
            lf, lsf, lpdf = kappa_logs(x, *par)
            if well_conditioned(x, lf, lsf, lpdf):
                lines.append(f"kappa_cdf {head} {r17(x)} {s(lf)} {s(lsf)} {s(lpdf)}")
            pd = d(mp.mpf(ps))
            lines.append(f"kappa_quantile {head} {r17(pd)} {s(kappa_quantile(pd, *par))} "
                         f"{s(kappa_quantile_complement(pd, *par))}")
        if par[2] > -1 and (par[3] >= 0 or par[2] < -1 / par[3]):
            exact = kappa_lmom_exact(*par)
            if par[3] != 0 and abs(par[3]) > 1e-6 and par[2] != 0:
                check(exact, lmom_by_quadrature(lambda u: kappa_quantile(u, *par)), head)
            lines.append(f"kappa_lmom {head} " + " ".join(s(v) for v in exact))
    for l1, l2, t3, t4 in KAPPA_FITS:
        # a start near the root from a coarse search of the (k, h) plane
        best = min(((k, h) for k in [i / 20 for i in range(-19, 40)] + [2.5, 3, 4, 5]
                    for h in [i / 10 for i in range(-9, 20)] + [2.5, 3, 5, 8]
                    if h >= 0 or k < -1 / h),
                   key=lambda kh: sum((a - b) ** 2 for a, b in
                                      zip(kappa_taus(mp.mpf(kh[0]), mp.mpf(kh[1])), (t3, t4))))
        fit = kappa_fit(d(l1), d(l2), d(t3), d(t4), [mp.mpf(v) for v in best])
        assert fit[3] > -1, fit  # the root with h >= -1, where the Kappa's region is covered once
        lines.append(f"kappa_fit {r17(l1)} {r17(l2)} {r17(t3)} {r17(t4)} " + " ".join(s(v) for v in fit))
    for w in WAKEBYS:
        par = [d(v) for v in w]
        head = " ".join(r17(v) for v in w)
        for ps in PROBS:
            p = mp.mpf(ps) if ps != "1e-10" else 1 - mp.mpf(ps)
            x = d(wakeby_quantile(p, *par))
            logs = wakeby_logs(x, par)
            if well_conditioned(x, *logs):
                lines.append(f"wakeby_cdf {head} {r17(x)} " + " ".join(s(v) for v in logs))
            pd = d(mp.mpf(ps))
            lines.append(f"wakeby_quantile {head} {r17(pd)} {s(wakeby_quantile(pd, *par))} "
                         f"{s(wakeby_quantile(None, *par, u=pd))}")
        exact = wakeby_lmom_exact(par)
        check(exact, lmom_by_quadrature(lambda u: wakeby_quantile(u, *par)), head)
        lines.append(f"wakeby_lmom {head} " + " ".join(s(v) for v in exact))
        if par[3] > 0 and par[4] > 1e-3:  # the exact fit of the ratios rounded to doubles
            rat = [d(v) for v in exact]
            fit = wakeby_fit(*rat, par[1:])
            lines.append("wakeby_fit " + " ".join(r17(v) for v in rat) + " " + " ".join(s(v) for v in fit))
    # Ratios whose exact solution is no Wakeby (gamma < 0 or delta >= 1): the
    # fit with xi = 0.
    w0 = [d(0), d(2), d(3), d(0.4), d(0.15)]
    l1, l2, t3, t4, _ = wakeby_lmom_exact(w0)
    rat = [d(l1), d(l2), d(t3), d(t4), d(0.19)]
    try:
        exact = wakeby_fit(*rat, w0[1:])
        assert exact[3] < 0 or exact[4] >= 1, exact
    except ValueError:  # no real root
        pass
    fit = wakeby_fit(*rat, w0[1:], xi_fixed=0)
    lines.append("wakeby_fit " + " ".join(r17(v) for v in rat) + " " + " ".join(s(v) for v in fit))
    for t3 in (-0.3, 0.0, 0.1, 0.17, 0.3, 0.5, 0.8):
        k = mp.findroot(lambda a: kappa_taus(a, 0)[0] - d(t3), mp.mpf(0.1))
        lines.append(f"gev_tau4 {r17(t3)} {s(kappa_taus(k, 0)[1])}")
    with open(os.path.join(HERE, "kappa_reference.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
