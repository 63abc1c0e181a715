"""The keys of the results, for editors and type checkers."""

from __future__ import annotations

from typing import List, Optional, TypedDict

import numpy as np


class Bounds(TypedDict, total=False):
    lower: Optional[float]
    upper: Optional[float]
    profile_lower: Optional[float]         # maximum likelihood, unless profiles=False
    profile_upper: Optional[float]
    profile_lower_reason: str              # why a profile bound is None
    profile_upper_reason: str


class Estimate(Bounds, total=False):
    value: Optional[float]
    se: Optional[float]


class Quantile(Estimate, total=False):
    p: float


class ReturnLevel(Estimate, total=False):
    period: float


class Level(TypedDict):
    x: float
    period: Optional[float]


class Gof(TypedDict, total=False):
    ks: Optional[float]
    cvm: Optional[float]
    ad: Optional[float]
    chi2: Optional[float]
    chi2_df: int
    chi2_p: Optional[float]
    ks_p: Optional[float]     # p-values allowing for the estimated parameters
    cvm_p: Optional[float]
    ad_p: Optional[float]
    p_method: str             # how they were computed


class Boot(TypedDict):
    replicates: int
    failed: int
    a: List[Optional[float]]
    b: List[Optional[float]]
    quantile: List[Optional[float]]
    return_levels: List[List[Optional[float]]]
    ks_p: Optional[float]
    cvm_p: Optional[float]
    ad_p: Optional[float]


class GevBoot(TypedDict):
    replicates: int
    failed: int
    loc: List[Optional[float]]
    scale: List[Optional[float]]
    shape: List[Optional[float]]
    quantile: List[Optional[float]]
    return_levels: List[List[Optional[float]]]
    ks_p: Optional[float]
    cvm_p: Optional[float]
    ad_p: Optional[float]
    se_loc: Optional[float]   # standard deviations of the refits
    se_scale: Optional[float]
    se_shape: Optional[float]


class MethodRecord(TypedDict, total=False):
    error: str              # the method failed alone; then its only key
    a: Optional[float]
    b: Optional[float]
    loc: Optional[float]    # = a
    scale: Optional[float]  # = b
    se_a: Optional[float]
    se_b: Optional[float]
    corr_ab: Optional[float]
    info: int               # ls
    nfev: int               # ls
    sum_sq: Optional[float]  # ls
    l2: Optional[float]     # ls
    serror: Optional[float]  # ls
    rerror: Optional[float]  # ls
    loglik: Optional[float]  # mle
    iterations: int         # mle
    quantile: Quantile
    return_levels: List[ReturnLevel]
    level: Level            # with level=
    gof: Gof
    boot: Boot              # with bootstrap=


class GevRecord(TypedDict, total=False):
    error: str              # no maximum of the likelihood; then its only key
    loc: Optional[float]
    scale: Optional[float]
    shape: Optional[float]
    se_loc: Optional[float]
    se_scale: Optional[float]
    se_shape: Optional[float]
    cov: List[List[Optional[float]]]
    loglik: Optional[float]  # mle
    iterations: int         # mle
    quantile: Quantile
    return_levels: List[ReturnLevel]
    shape_interval: Bounds
    level: Level            # with level=
    gof: Gof
    boot: GevBoot           # with bootstrap=


class GevRecords(TypedDict, total=False):
    mle: GevRecord
    lmom: GevRecord


class GumbelTest(TypedDict, total=False):
    statistic: Optional[float]  # 2 (loglik of the GEV - loglik of the Gumbel)
    df: int
    p: Optional[float]
    shape: Estimate             # the GEV's shape by maximum likelihood
    error: str


class Headline(TypedDict, total=False):
    dist: str    # "gumbel" or "gev"
    method: str  # "mle", "lmom" or "ls"
    reason: str  # why this family leads, when the order asked for did not decide it


class FitRecord(TypedDict, total=False):
    file: str
    ok: bool
    n: int
    min: Optional[float]
    max: Optional[float]
    bins: int
    width: Optional[float]
    m: int
    ls: MethodRecord
    mle: MethodRecord
    lmom: MethodRecord
    gev: GevRecords         # with dist="gev"
    gumbel_test: GumbelTest  # with mle
    headline: Headline      # the family and method the headline numbers come from
    n_rows: int             # with a threshold: the observations, the missing ones
    n_missing: int
    n_merged: int
    pot: dict               # with a threshold: the peaks and their GPD fits
    gpd: dict               # with a threshold and covariates: gpd.mle.nonstationary
    trend: dict             # with covariates: the trend tests


# The arrays of fit_many: the sample's ("periods" ... "m") and, for each method m
# asked for, m_KEY for every KEY of its record (m_rl...: a trailing period axis;
# gev_m_cov: trailing 3 x 3), the Gumbel check with mle (gumbel_test_...), the
# GEV with dist="gev" (gev_m_...), profile bounds unless profiles=False.
FitManyResult = TypedDict("FitManyResult", {
    "periods": np.ndarray, "ok": np.ndarray, "n": np.ndarray, "min": np.ndarray, "max": np.ndarray,
    "width": np.ndarray, "m": np.ndarray, "ls_a": np.ndarray, "ls_b": np.ndarray,
    "ls_se_a": np.ndarray, "ls_se_b": np.ndarray, "ls_corr_ab": np.ndarray, "ls_info": np.ndarray,
    "ls_nfev": np.ndarray, "ls_sum_sq": np.ndarray, "ls_l2": np.ndarray, "ls_serror": np.ndarray,
    "ls_rerror": np.ndarray, "ls_quantile": np.ndarray, "ls_quantile_se": np.ndarray,
    "ls_quantile_lower": np.ndarray, "ls_quantile_upper": np.ndarray, "ls_rl": np.ndarray,
    "ls_rl_se": np.ndarray, "ls_rl_lower": np.ndarray, "ls_rl_upper": np.ndarray,
    "ls_level_period": np.ndarray, "ls_ks": np.ndarray, "ls_cvm": np.ndarray, "ls_ad": np.ndarray,
    "ls_chi2": np.ndarray, "ls_chi2_df": np.ndarray, "ls_chi2_p": np.ndarray,
    "ls_ks_p": np.ndarray, "ls_cvm_p": np.ndarray, "ls_ad_p": np.ndarray, "mle_a": np.ndarray,
    "mle_b": np.ndarray, "mle_se_a": np.ndarray, "mle_se_b": np.ndarray, "mle_corr_ab": np.ndarray,
    "mle_loglik": np.ndarray, "mle_iterations": np.ndarray, "mle_quantile": np.ndarray,
    "mle_quantile_se": np.ndarray, "mle_quantile_lower": np.ndarray,
    "mle_quantile_upper": np.ndarray, "mle_quantile_profile_lower": np.ndarray,
    "mle_quantile_profile_upper": np.ndarray, "mle_rl": np.ndarray, "mle_rl_se": np.ndarray,
    "mle_rl_lower": np.ndarray, "mle_rl_upper": np.ndarray, "mle_rl_profile_lower": np.ndarray,
    "mle_rl_profile_upper": np.ndarray, "mle_level_period": np.ndarray, "mle_ks": np.ndarray,
    "mle_cvm": np.ndarray, "mle_ad": np.ndarray, "mle_chi2": np.ndarray, "mle_chi2_df": np.ndarray,
    "mle_chi2_p": np.ndarray, "mle_ks_p": np.ndarray, "mle_cvm_p": np.ndarray,
    "mle_ad_p": np.ndarray, "gumbel_test_statistic": np.ndarray, "gumbel_test_df": np.ndarray,
    "gumbel_test_p": np.ndarray, "gumbel_test_shape": np.ndarray,
    "gumbel_test_shape_se": np.ndarray, "gumbel_test_shape_lower": np.ndarray,
    "gumbel_test_shape_upper": np.ndarray, "gumbel_test_shape_profile_lower": np.ndarray,
    "gumbel_test_shape_profile_upper": np.ndarray, "gev_mle_loc": np.ndarray,
    "gev_mle_scale": np.ndarray, "gev_mle_shape": np.ndarray, "gev_mle_se_loc": np.ndarray,
    "gev_mle_se_scale": np.ndarray, "gev_mle_se_shape": np.ndarray, "gev_mle_cov": np.ndarray,
    "gev_mle_loglik": np.ndarray, "gev_mle_iterations": np.ndarray, "gev_mle_quantile": np.ndarray,
    "gev_mle_quantile_se": np.ndarray, "gev_mle_quantile_lower": np.ndarray,
    "gev_mle_quantile_upper": np.ndarray, "gev_mle_quantile_profile_lower": np.ndarray,
    "gev_mle_quantile_profile_upper": np.ndarray, "gev_mle_rl": np.ndarray,
    "gev_mle_rl_se": np.ndarray, "gev_mle_rl_lower": np.ndarray, "gev_mle_rl_upper": np.ndarray,
    "gev_mle_rl_profile_lower": np.ndarray, "gev_mle_rl_profile_upper": np.ndarray,
    "gev_mle_shape_lower": np.ndarray, "gev_mle_shape_upper": np.ndarray,
    "gev_mle_shape_profile_lower": np.ndarray, "gev_mle_shape_profile_upper": np.ndarray,
    "gev_mle_ks": np.ndarray, "gev_mle_cvm": np.ndarray, "gev_mle_ad": np.ndarray,
    "gev_mle_chi2": np.ndarray, "gev_mle_chi2_df": np.ndarray, "gev_mle_chi2_p": np.ndarray,
    "gev_mle_level_period": np.ndarray,
    "lmom_a": np.ndarray, "lmom_b": np.ndarray, "lmom_se_a": np.ndarray, "lmom_se_b": np.ndarray,
    "lmom_corr_ab": np.ndarray, "lmom_quantile": np.ndarray, "lmom_quantile_se": np.ndarray,
    "lmom_quantile_lower": np.ndarray, "lmom_quantile_upper": np.ndarray, "lmom_rl": np.ndarray,
    "lmom_rl_se": np.ndarray, "lmom_rl_lower": np.ndarray, "lmom_rl_upper": np.ndarray,
    "lmom_level_period": np.ndarray, "lmom_ks": np.ndarray, "lmom_cvm": np.ndarray,
    "lmom_ad": np.ndarray, "lmom_chi2": np.ndarray, "lmom_chi2_df": np.ndarray,
    "lmom_chi2_p": np.ndarray, "lmom_ks_p": np.ndarray, "lmom_cvm_p": np.ndarray,
    "lmom_ad_p": np.ndarray, "gev_lmom_loc": np.ndarray, "gev_lmom_scale": np.ndarray,
    "gev_lmom_shape": np.ndarray, "gev_lmom_se_loc": np.ndarray, "gev_lmom_se_scale": np.ndarray,
    "gev_lmom_se_shape": np.ndarray, "gev_lmom_cov": np.ndarray, "gev_lmom_quantile": np.ndarray,
    "gev_lmom_quantile_se": np.ndarray, "gev_lmom_quantile_lower": np.ndarray,
    "gev_lmom_quantile_upper": np.ndarray, "gev_lmom_rl": np.ndarray, "gev_lmom_rl_se": np.ndarray,
    "gev_lmom_rl_lower": np.ndarray, "gev_lmom_rl_upper": np.ndarray,
    "gev_lmom_shape_lower": np.ndarray, "gev_lmom_shape_upper": np.ndarray,
    "gev_lmom_ks": np.ndarray, "gev_lmom_cvm": np.ndarray, "gev_lmom_ad": np.ndarray,
    "gev_lmom_chi2": np.ndarray, "gev_lmom_chi2_df": np.ndarray, "gev_lmom_chi2_p": np.ndarray,
    "gev_lmom_level_period": np.ndarray,
    "ls_loc": np.ndarray, "ls_scale": np.ndarray, "mle_loc": np.ndarray, "mle_scale": np.ndarray,
    "lmom_loc": np.ndarray, "lmom_scale": np.ndarray
}, total=False)
