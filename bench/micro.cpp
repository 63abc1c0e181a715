// Micro-benchmarks of the stages of a run on a 10000-value Gumbel sample:
// reading the sample file, the number conversion alone, binning into 50 bins,
// one complete fit of the 51-bin histogram, and the scaled Euclidean norm.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "bench/sample.hpp"
#include "dnls/messages/machine.hpp"
#include "dnls/solver/dnls.hpp"
#include "korvalinde/classic/blocks.hpp"
#include "korvalinde/classic/histogram.hpp"
#include "korvalinde/classic/message.hpp"
#include "korvalinde/classic/model.hpp"
#include "korvalinde/classic/reader.hpp"

namespace {

constexpr int kSamples = 10000;
constexpr int kBins = 50;
constexpr int kWorkLength = 110050;

double fvec[korvalinde::kMaxBins];
double wa[kWorkLength];
int iwa[2];

// The sample file, written once into a private directory that goes with the
// program.
class SampleFile {
 public:
  SampleFile() {
    char dir[] = "/tmp/korvalinde-bench-XXXXXX";
    if (mkdtemp(dir) == nullptr) std::abort();
    dir_ = dir;
    path_ = dir_ + "/sample.txt";
    if (!bench::write_gumbel_sample(path_, kSamples)) std::abort();
  }
  ~SampleFile() {
    std::remove(path_.c_str());
    rmdir(dir_.c_str());
  }
  const std::string& path() const { return path_; }

 private:
  std::string dir_, path_;
};

const std::string& sample_path() {
  static SampleFile file;
  return file.path();
}

bool load_sample() {
  int status = 0, count = 0;
  korvalinde::Message message;
  korvalinde::ini_data(status, message, sample_path(), count);
  return status == 0 && count == kSamples;
}

// Loads and bins the sample; returns M and the start values.
int binned_sample(double start[2]) {
  if (!load_sample()) return 0;
  int m = 0;
  double minimum, dx;
  korvalinde::preproccdata(kSamples, kBins, m, start, minimum, dx);
  return m;
}

void BM_ReadSamples(benchmark::State& state) {
  const std::string& path = sample_path();
  for (auto _ : state) {
    int status = 0, count = 0;
    korvalinde::Message message;
    korvalinde::ini_data(status, message, path, count);
    if (status != 0 || count != kSamples) {
      state.SkipWithError("the sample file did not load");
      break;
    }
    benchmark::DoNotOptimize(korvalinde::data0);
  }
  state.SetItemsProcessed(state.iterations() * kSamples);
}
BENCHMARK(BM_ReadSamples)->Unit(benchmark::kMicrosecond);

// The first token of every line of the sample, as the reader hands them over.
std::vector<std::string_view> sample_tokens(std::string& text) {
  std::ifstream in(sample_path());
  text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  std::vector<std::string_view> tokens;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t nl = text.find('\n', pos);
    tokens.emplace_back(text.data() + pos, nl - pos);
    pos = nl + 1;
  }
  return tokens;
}

void BM_ParseSample(benchmark::State& state) {
  std::string text;
  const std::vector<std::string_view> tokens = sample_tokens(text);
  for (auto _ : state) {
    for (std::string_view t : tokens) {
      double v;
      if (!korvalinde::parse_sample(t, v)) state.SkipWithError("a token was refused");
      benchmark::DoNotOptimize(v);
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(tokens.size()));
}
BENCHMARK(BM_ParseSample)->Unit(benchmark::kMicrosecond);

// For comparison: the standard library's conversion of the same tokens.
void BM_ParseFromChars(benchmark::State& state) {
  std::string text;
  const std::vector<std::string_view> tokens = sample_tokens(text);
  for (auto _ : state) {
    for (std::string_view t : tokens) {
      double v;
      std::from_chars(t.data(), t.data() + t.size(), v);
      benchmark::DoNotOptimize(v);
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(tokens.size()));
}
BENCHMARK(BM_ParseFromChars)->Unit(benchmark::kMicrosecond);

void BM_Histogram(benchmark::State& state) {
  if (!load_sample()) {
    state.SkipWithError("the sample file did not load");
    return;
  }
  for (auto _ : state) {
    int m = 0;
    double params[2], minimum, dx;
    korvalinde::preproccdata(kSamples, kBins, m, params, minimum, dx);
    benchmark::DoNotOptimize(params);
    benchmark::DoNotOptimize(korvalinde::data1);
  }
  state.SetItemsProcessed(state.iterations() * kSamples);
}
BENCHMARK(BM_Histogram)->Unit(benchmark::kMicrosecond);

// One complete fit from the start values, through the entry bound to ::fcn.
void BM_FitBoundToFcn(benchmark::State& state) {
  double start[2];
  const int m = binned_sample(start);
  const double tol = std::sqrt(dnls::D1MACH(4));
  int info = 0;
  for (auto _ : state) {
    double x[2] = {start[0], start[1]};
    dnls::DNLS1E(1, m, 2, x, fvec, tol, 0, info, iwa, wa, kWorkLength);
    benchmark::DoNotOptimize(x);
  }
  if (m != kBins + 1 || info < 1 || info > 3) state.SkipWithError("the fit did not converge");
  state.counters["bins"] = m;
}
BENCHMARK(BM_FitBoundToFcn)->Unit(benchmark::kMicrosecond);

// The same fit through the entry that takes the residual routine, counting
// the residual evaluations.
void BM_FitResidualFn(benchmark::State& state) {
  double start[2];
  const int m = binned_sample(start);
  const double tol = std::sqrt(dnls::D1MACH(4));
  long evaluations = 0;
  auto residuals = [&evaluations](int& iflag, int m, int, const double* x, double* fv, double*,
                                  int) {
    if (iflag != 1) return;
    ++evaluations;
    for (int i = 0; i < m; ++i) {
      fv[i] = korvalinde::data1.y[i] - korvalinde::extremeval(korvalinde::data1.x[i], x[0], x[1]);
    }
  };
  int info = 0;
  for (auto _ : state) {
    double x[2] = {start[0], start[1]};
    dnls::DNLS1E(residuals, 1, m, 2, x, fvec, tol, 0, info, iwa, wa, kWorkLength);
    benchmark::DoNotOptimize(x);
  }
  if (m != kBins + 1 || info < 1 || info > 3) state.SkipWithError("the fit did not converge");
  state.counters["evaluations"] =
      static_cast<double>(evaluations) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_FitResidualFn)->Unit(benchmark::kMicrosecond);

void BM_Denorm(benchmark::State& state) {
  double start[2];
  const int m = binned_sample(start);
  for (auto _ : state) {
    double norm = dnls::DENORM(m, korvalinde::data1.y);
    benchmark::DoNotOptimize(norm);
  }
  if (m != kBins + 1) state.SkipWithError("the sample did not bin into 51 bins");
}
BENCHMARK(BM_Denorm)->Unit(benchmark::kNanosecond);

}  // namespace
