// Eight threads fit different problems at once, over and over: every result
// must be bit for bit the one the same problem gives on its own.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "dnls/messages/xerror.hpp"
#include "dnls/solver/dnls.hpp"

namespace {

enum class Model { Decay, Gumbel, Tail };

// A two-parameter least-squares problem on the points (t, y).
struct Problem {
  Model model;
  int iopt;
  double x0[2];
  std::vector<double> t, y;

  // Model value at t and its gradient in x.
  double value(double t_i, const double* x, double* dg) const {
    if (model == Model::Decay) {
      const double e = std::exp(-x[1] * t_i);
      dg[0] = e;
      dg[1] = -x[0] * t_i * e;
      return x[0] * e;
    }
    // Gumbel density with location x[0] and scale x[1].
    const double z = (t_i - x[0]) / x[1], ez = std::exp(-z);
    const double g = std::exp(-(z + ez)) / x[1];
    dg[0] = g * (1 - ez) / x[1];
    dg[1] = g * (z * (1 - ez) - 1) / x[1];
    return g;
  }

  void operator()(int& iflag, int m, int, const double* x, double* fvec, double* fjac,
                  int ldfjac) const {
    double dg[2];
    if (model == Model::Tail) {  // infimum at infinity: ends at the evaluation limit
      if (iflag == 1)
        for (int i = 0; i < m; ++i) fvec[i] = std::exp(-x[i % 2]) * (i + 1);
      return;
    }
    if (iflag == 1) {
      for (int i = 0; i < m; ++i) fvec[i] = value(t[i], x, dg) - y[i];
    } else if (iflag == 2) {
      for (int i = 0; i < m; ++i) {
        value(t[i], x, dg);
        fjac[i] = dg[0];
        fjac[i + ldfjac] = dg[1];
      }
    } else if (iflag == 3) {
      value(t[ldfjac - 1], x, fjac);
    }
  }
};

struct Result {
  double x[2];
  std::vector<double> fvec;
  int info;

  bool operator==(const Result& o) const {
    return std::memcmp(x, o.x, sizeof x) == 0 && info == o.info && fvec.size() == o.fvec.size() &&
           std::memcmp(fvec.data(), o.fvec.data(), fvec.size() * sizeof(double)) == 0;
  }
};

Result solve(const Problem& p) {
  const int m = static_cast<int>(p.t.size()), n = 2;
  Result r{{p.x0[0], p.x0[1]}, std::vector<double>(m), -99};
  std::vector<double> wa(n * (m + 5) + m);
  int iwa[2];
  dnls::QuietScope quiet;
  dnls::DNLS1E(p, p.iopt, m, n, r.x, r.fvec.data(), std::sqrt(2.222e-16), 0, r.info, iwa,
               wa.data(), static_cast<int>(wa.size()));
  return r;
}

// Deterministic noise in [-0.5, 0.5).
double noise(std::uint32_t& s) {
  s = s * 1664525u + 1013904223u;
  return (s >> 8) / 16777216.0 - 0.5;
}

std::vector<Problem> problems() {
  std::vector<Problem> list;
  std::uint32_t seed = 7;
  for (int k = 0; k < 3; ++k) {
    Problem p{Model::Decay, k + 1, {1, 0.1}, {}, {}};
    for (int i = 0; i < 12 + 4 * k; ++i) {
      p.t.push_back(0.5 * i);
      p.y.push_back((3 + k) * std::exp(-(0.3 + 0.2 * k) * 0.5 * i) + 0.02 * noise(seed));
    }
    list.push_back(p);
  }
  for (int k = 0; k < 4; ++k) {
    Problem p{Model::Gumbel, k % 2 + 1, {9, 1.5}, {}, {}};
    const double mu = 10 + k, beta = 2 + 0.5 * k;
    for (int i = 0; i < 30; ++i) {
      const double t = mu - 3 * beta + 0.4 * beta * i, z = (t - mu) / beta;
      p.t.push_back(t);
      p.y.push_back(std::exp(-(z + std::exp(-z))) / beta * (1 + 0.05 * noise(seed)));
    }
    p.x0[0] = mu - 1;
    list.push_back(p);
  }
  list.push_back(Problem{Model::Tail, 1, {0, 0}, std::vector<double>(4), {}});
  return list;
}

TEST(Threads, ConcurrentFitsAreBitIdenticalToSingleThreadedOnes) {
  const std::vector<Problem> list = problems();
  std::vector<Result> expected;
  for (const Problem& p : list) expected.push_back(solve(p));
  EXPECT_EQ(expected.back().info, 5);
  for (std::size_t k = 0; k + 1 < list.size(); ++k) {
    EXPECT_GE(expected[k].info, 1) << k;
    EXPECT_LE(expected[k].info, 4) << k;
  }

  constexpr int kThreads = 8, kRounds = 1000;
  std::vector<int> mismatches(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      // Each thread starts on its own problem and goes through all of them.
      for (int r = 0; r < kRounds; ++r) {
        const std::size_t k = (t + r) % list.size();
        if (!(solve(list[k]) == expected[k])) ++mismatches[t];
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

}  // namespace
