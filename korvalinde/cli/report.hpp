// The human report of the command line: a short block per input file with the
// methods side by side. Unlike the classic report its layout is free to change.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "korvalinde/records/family_result.hpp"
#include "korvalinde/records/result.hpp"

namespace korvalinde::cli {

// One method's result with its short and long name.
struct MethodView {
  std::string_view name;   // "mle", "lmom", "ls": the JSON key
  std::string_view title;  // in words
  const MethodResult* fit;
};

// The Gumbel methods that ran: maximum likelihood, then L-moments, then the
// histogram least-squares fit.
std::vector<MethodView> ranked_methods(const FitResult& result);

// One fit of a family by one method: a Gumbel method, a GEV one or one of a
// further family (the headline only).
struct FitView {
  std::string name;  // "mle", "lmom", "ls" (the Gumbel), "gev mle", "gev lmom", "glo lmom", ...
  const MethodResult* gumbel = nullptr;
  const GevMethodResult* gev = nullptr;
  const FamilyMethodResult* family = nullptr;
  const Estimate& quantile() const {
    return gumbel ? gumbel->quantile : gev ? gev->quantile : family->quantile;
  }
  const std::vector<ReturnLevel>& levels() const {
    return gumbel ? gumbel->return_levels : gev ? gev->return_levels : family->return_levels;
  }
  const Gof& gof() const { return gumbel ? gumbel->gof : gev ? gev->gof : family->gof; }
  // The part of the bootstrap every family shows; null without one.
  const BootSummary* boot() const {
    if (gumbel) return gumbel->boot ? &*gumbel->boot : nullptr;
    if (gev) return gev->boot ? &*gev->boot : nullptr;
    return nullptr;
  }
  double level_period() const {
    return gumbel ? gumbel->level_period : gev ? gev->level_period : kUndefined;
  }
};

// The fits with a column of their own: the headline first, then the rest of
// its family, then the other family's (the GEV's only when they have a
// result).
std::vector<FitView> fit_views(const FitResult& result);

// A further family's method ("mle", "lmom") in the result; null without it.
const FamilyMethodResult* family_method(const FitResult& result, std::string_view dist,
                                        std::string_view method);

// The family in words: "GLO", "Pearson III", "Gumbel", ...
std::string family_name(std::string_view dist);

// Why a fit has no goodness of fit: "N observation(s) outside the fitted support".
std::string outside_support_note(int n);

// The headline fit; null name when there is none.
FitView headline_view(const FitResult& result);

// The headline in words: "GEV, maximum likelihood (gev mle)"; empty without one.
std::string headline_title(const FitResult& result);

// The unit of the return periods: "years" for annual and water-year maxima
// and peaks over a threshold, "months" for month blocks, else empty.
std::string period_unit(const FitResult& result);

// "T=100 years", "T=12 months", "T=100".
std::string period_label(double period, const FitResult& result);

// The interval as "[lower, upper]": the profile-likelihood one when there is
// one, else the delta method's; `nonnegative` marks a delta lower bound
// below zero with "*" (a normal approximation, said in a footnote).
std::string headline_interval(const Estimate& e, bool nonnegative, int digits = 6);

// Below this many maxima (or clusters of peaks over a threshold) the long
// return periods are extrapolations, and the report and the JSON say so.
inline constexpr std::size_t kFewMaxima = 20, kFewClusters = 10;
std::vector<std::string> small_sample_warnings(const FitResult& result);

// Whether the sample's levels can not be negative (no value below zero).
bool nonnegative_levels(const FitResult& result);

// Below this many values per histogram bin on average, the ls fit depends
// strongly on the number of bins, and the report says so.
inline constexpr double kLsValuesPerBin = 5;
double values_per_bin(const FitResult& result);

// "DPA_CUT (P quantile)".
std::string dpa_cut_label(double prob);

// The block of one file, ending with a newline (callers put an empty line
// between blocks). A failed file gives the one line "FILE: error: MESSAGE",
// or "FILE:LINE: error: MESSAGE" when the message names a line.
std::string format_report(const FitResult& result);

// The meaning of the solver's termination code INFO in words.
std::string_view info_meaning(int info);

}  // namespace korvalinde::cli
