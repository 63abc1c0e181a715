#!/usr/bin/python3
"""The maximum-likelihood GNO fit of the Port Pirie sea levels and the 95%
profile-likelihood interval of its 100-year level at 30 digits, for
family_mle_test.cpp (FamilyMle.ProfileMatchesThirtyDigitReference).

The profile l_p(q) is the maximum over (scale, shape) of the log-likelihood
with loc = q - scale w(shape), w(s) = expm1(s y) / s and y the standard
normal 0.99 quantile; each end solves 2 (l_max - l_p(q)) = chi2_1(0.95) by
the secant method. The likelihood and the maximiser are those of
make_family_mle_reference.py. Run from tests/stats:
/usr/bin/python3 make_family_profile_reference.py
"""
import mpmath as mp

from make_family_mle_reference import DATA, loglik, newton_max

mp.mp.dps = 40


def main():
    x = [mp.mpf(line.strip()) for line in open("%s/portpirie_sealevel.txt" % DATA) if line.strip()]
    full = lambda a, b, c: loglik("gno", x, (a, b, c))
    p, h = newton_max(full, (3.945, 0.2261, 0.3101))
    lmax = full(*p)
    y = mp.sqrt(2) * mp.erfinv(2 * mp.mpf("0.99") - 1)
    w = lambda s: mp.expm1(s * y) / s
    crit = 2 * mp.erfinv(mp.mpf("0.95")) ** 2  # chi2_1(0.95)

    def lp(q):
        # From the fit's location and shape, the scale moved to give q.
        f = lambda b, c: loglik("gno", x, (q - b * w(c), b, c))
        t, _ = newton_max(f, [p[1] * (q - p[0]) / (q0 - p[0]), p[2]])
        return f(*t)

    q0 = p[0] + p[1] * w(p[2])
    # The delta method's standard error of q0 places the first secant points.
    grad = mp.matrix([1, w(p[2]), p[1] * mp.diff(w, p[2])])
    se_q = mp.sqrt((grad.T * (-h) ** -1 * grad)[0])
    ends = []
    for side in (-1, 1):
        g = lambda q: 2 * (lmax - lp(q)) - crit
        guess = q0 + side * 2 * se_q
        ends.append(mp.findroot(g, (guess, guess + side * se_q / 10), tol=mp.mpf(10) ** -32))
    print("params", *[mp.nstr(v, 25) for v in p])
    print("loglik", mp.nstr(lmax, 25))
    print("level", mp.nstr(q0, 25))
    print("profile", *[mp.nstr(v, 25) for v in ends])


if __name__ == "__main__":
    main()
