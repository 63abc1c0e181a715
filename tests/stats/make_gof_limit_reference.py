#!/usr/bin/python3
"""Upper tails of the limit laws of sqrt(n) D, W^2 and A^2 (known
parameters), computed with mpmath at 30 digits from series other than the
integrals the code uses: Kolmogorov's alternating series, the Bessel series
of W^2 and the Gaussian-integral series of A^2. Prints the lines embedded in
stats_test.cpp. Run with a Python that has mpmath."""
import mpmath as mp

mp.mp.dps = 30
HALF = mp.mpf(1) / 2


def ks_upper(x):
    x = mp.mpf(x)
    return 2 * mp.nsum(lambda k: (-1) ** (k - 1) * mp.exp(-2 * k * k * x * x), [1, mp.inf])


def cvm_lower(z):
    z = mp.mpf(z)

    def term(j):
        y = (4 * j + 1) ** 2 / (16 * z)
        return (mp.gamma(j + HALF) / (mp.gamma(HALF) * mp.factorial(j)) * mp.sqrt(4 * j + 1)
                * mp.exp(-y) * mp.besselk(mp.mpf(1) / 4, y))

    return mp.nsum(term, [0, mp.inf]) / (mp.pi * mp.sqrt(z))


def ad_lower(z):
    z = mp.mpf(z)
    total = mp.mpf(0)
    for j in range(400):
        c = (4 * j + 1) ** 2 * mp.pi ** 2 / (8 * z)
        inner = mp.quad(lambda w: mp.exp(z / (8 * (w * w + 1)) - c * w * w), [0, mp.inf])
        t = ((-1) ** j * mp.gamma(j + HALF) * (4 * j + 1) / (mp.gamma(HALF) * mp.factorial(j))
             * mp.exp(-c) * inner)
        total += t
        if j > 3 and abs(t) < mp.mpf(10) ** -32:
            break
    return mp.sqrt(2 * mp.pi) / z * total


for x in ["0.3", "0.6", "0.9", "1.0", "1.36", "2.5"]:
    print("{kolmogorov_upper, %s, %s}," % (x, mp.nstr(ks_upper(x), 20)))
for x in ["0.004", "0.05", "0.461", "1.0", "2.5"]:
    print("{cramer_von_mises_upper, %s, %s}," % (x, mp.nstr(1 - cvm_lower(x), 20)))
for x in ["0.1", "0.5", "2.492", "6.0", "15.0"]:
    print("{anderson_darling_upper, %s, %s}," % (x, mp.nstr(1 - ad_lower(x), 20)))
