// The fitting interface of the korvalinde library in one header: fit a whole
// sample (fit_sample) with its options and result records, the distributions,
// and the estimators and statistics that the fit is made of.
#pragma once

#include "korvalinde/core/fit.hpp"
#include "korvalinde/dist/gumbel.hpp"
#include "korvalinde/records/result.hpp"
#include "korvalinde/stats/analyze.hpp"
#include "korvalinde/stats/bootstrap.hpp"
#include "korvalinde/stats/estimate.hpp"
#include "korvalinde/stats/gof.hpp"
