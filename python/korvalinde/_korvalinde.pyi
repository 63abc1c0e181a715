"""Fitting the Gumbel (extreme-value type I) distribution, and the GEV, to samples."""

from typing import Any, Optional, Sequence

import numpy as np
import numpy.typing as npt

__version__: str

def fit(
    x: npt.ArrayLike,
    bins: int = 50,
    prob: float = 0.99,
    methods: Sequence[str] = ("mle", "lmom"),
    periods: Sequence[float] = (2, 5, 10, 20, 50, 100, 200, 500, 1000),
    bootstrap: int = 0,
    seed: int = 0,
    level: Optional[float] = None,
    threads: int = 0,
    name: str = "",
    skipna: bool = False,
    min_count: int = 2,
    gev: bool = False,
    profiles: bool = True,
    confidence: float = 0.95,
    gumbel: bool = True,
    dists: Sequence[str] = (),
) -> dict[str, Any]:
    """Fit the Gumbel distribution (and with gev the GEV) to one sample (1-D).

    Returns the command line's JSON record as a dict (undefined numbers are
    None); raises ValueError with the command line's message when the sample
    cannot be fitted or an option is out of range. Releases the GIL.
    """

def lmoments(x: npt.ArrayLike, nmom: int = 5, skipna: bool = False) -> dict[str, Optional[float]]:
    """The sample L-moments l1, and up to order nmom l2, t, t3, t4, t5."""

def fit_many(
    a: npt.ArrayLike,
    axis: int = -1,
    bins: int = 50,
    prob: float = 0.99,
    methods: Sequence[str] = ("mle", "lmom"),
    periods: Sequence[float] = (2, 5, 10, 20, 50, 100, 200, 500, 1000),
    threads: int = 0,
    skipna: bool = False,
    min_count: int = 2,
    level: Optional[float] = None,
    gev: bool = False,
    seed: int = 0,
    profiles: bool = True,
    confidence: float = 0.95,
    gumbel: bool = True,
    dists: Sequence[str] = (),
    gof: bool = True,
    se: bool = True,
) -> dict[str, np.ndarray]:
    """Fit every 1-D slice of `a` along `axis`, on `threads` threads (0: all cores).

    Returns arrays shaped like `a` without `axis`: every statistic of fit()'s
    record under its nested keys joined by "_" (m_a, m_quantile_lower, m_ad_p,
    m_rl with a trailing period axis, gumbel_test_p, gev_mle_shape, ...), and
    "periods", "n" and "ok" (bool). A slice that cannot be fitted has ok False
    and NaN numbers. Results equal fit() slice by slice, bit for bit.
    Releases the GIL.
    """

def idf(
    times: npt.ArrayLike,
    depths: npt.ArrayLike,
    durations: Sequence[str],
    periods: Sequence[float],
    block: str,
    min_coverage: float,
    step: str,
    fixed_interval_factor: float,
    reference_duration: str,
    dist: Sequence[str],
    methods: Sequence[str],
    confidence: float,
    threads: int,
    profiles: bool,
) -> dict[str, Any]: ...

def region(
    names: Sequence[str],
    samples: Sequence[npt.NDArray[np.float64]],
    summary: Optional[npt.NDArray[np.float64]],
    nsim: int,
    seed: int,
    periods: Sequence[float],
    accuracy: int,
    correlation: float,
    min_years: int,
    threads: int,
    all_curves: bool,
) -> dict[str, Any]: ...
