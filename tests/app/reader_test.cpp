#include "korvalinde/classic/reader.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "korvalinde/input/dated_csv.hpp"
#include "korvalinde/input/sample_reader.hpp"

#include "korvalinde/classic/blocks.hpp"
#include "tests/support/child.hpp"

namespace {

using korvalinde::data0;
using korvalinde::ini_data;
using korvalinde::Message;
using korvalinde::parse_sample;

TEST(ParseSample, AcceptsTheNumberForms) {
  double v = 0;
  ASSERT_TRUE(parse_sample("1.5", v));
  EXPECT_EQ(v, 1.5);
  ASSERT_TRUE(parse_sample("-2", v));
  EXPECT_EQ(v, -2.0);
  ASSERT_TRUE(parse_sample("+.5", v));
  EXPECT_EQ(v, 0.5);
  ASSERT_TRUE(parse_sample("5.", v));
  EXPECT_EQ(v, 5.0);
  ASSERT_TRUE(parse_sample("9.9D-1", v));
  EXPECT_EQ(v, 0.99);
  ASSERT_TRUE(parse_sample("1d2", v));
  EXPECT_EQ(v, 100.0);
  ASSERT_TRUE(parse_sample("-1.25E+3", v));
  EXPECT_EQ(v, -1250.0);
  ASSERT_TRUE(parse_sample("0.1", v));
  EXPECT_EQ(v, 0.1);  // correctly rounded
  ASSERT_TRUE(parse_sample("1e-400", v));
  EXPECT_EQ(v, 0.0);  // underflow is a finite value
  ASSERT_TRUE(parse_sample("4.9e-324", v));
  EXPECT_EQ(v, 4.9e-324);
  ASSERT_TRUE(parse_sample("0.000000000000000000000000000012345678901234567890123", v));
  EXPECT_EQ(v, 1.2345678901234567890123e-29);
}

TEST(ParseSample, RefusesOtherTextAndNonFiniteValues) {
  double v = 0;
  for (const char* bad : {"abc", "", ".", "-", "1e", "1e+", "1.5.2", "1,5", "0x10", "1.5f", "E5",
                          "NaN", "nan", "Inf", "Infinity", "-inf", "1e999", "-1D400", "3*1.5",
                          "1 5", "++1", "1.5+3"}) {
    EXPECT_FALSE(parse_sample(bad, v)) << bad;
  }
}

TEST(ParseSample, ShortDecimalsRoundAsTheCLibraryDoes) {
  // Up to 17 digits, the point anywhere: those of at most 15 digits take
  // the quick conversion, the others the general one.
  std::mt19937_64 g(5);
  for (int k = 0; k < 200000; ++k) {
    std::string t = g() % 3 == 0 ? "-" : "";
    const int n = 1 + static_cast<int>(g() % 17), dot = static_cast<int>(g() % (n + 1));
    for (int i = 0; i < n; ++i) {
      if (i == dot) t.push_back('.');
      t.push_back(static_cast<char>('0' + g() % 10));
    }
    double v = 0;
    ASSERT_TRUE(parse_sample(t, v)) << t;
    const double want = std::strtod(t.c_str(), nullptr);
    ASSERT_EQ(std::memcmp(&v, &want, sizeof v), 0) << t;
  }
}

class IniData : public ::testing::Test {
 protected:
  // Loads `content` and returns the status; count and message are kept.
  int load(const std::string& content) {
    const std::string path = dir_.path() + "/data.txt";
    testsupport::write_file(path, content);
    status_ = 0;
    count_ = -1;
    ini_data(status_, message_, path, count_);
    return status_;
  }

  testsupport::TempDir dir_;
  int status_ = 0;
  int count_ = 0;
  Message message_{};
};

TEST_F(IniData, TakesTheFirstValueOfEachLineAndPassesBlankLinesOver) {
  ASSERT_EQ(load("1.5 2.5\n\n   \n\t3,4\r\n4/ignored\r\n \r\n-5e1"), 0);
  ASSERT_EQ(count_, 4);
  EXPECT_EQ(data0[0], 1.5);
  EXPECT_EQ(data0[1], 3.0);
  EXPECT_EQ(data0[2], 4.0);
  EXPECT_EQ(data0[3], -50.0);
}

TEST_F(IniData, EmptyFileLoadsNothing) {
  EXPECT_EQ(load(""), 0);
  EXPECT_EQ(count_, 0);
}

TEST_F(IniData, ExactlyTenThousandValuesLoadAndOneMoreIsTooMany) {
  std::string text;
  for (int i = 1; i <= 10000; ++i) text += std::to_string(i) + "\n";
  EXPECT_EQ(load(text), 0);
  EXPECT_EQ(count_, 10000);
  EXPECT_EQ(data0[9999], 10000.0);

  EXPECT_EQ(load(text + "1\n"), korvalinde::kTooManySamples);
  EXPECT_EQ(count_, 10001);
  EXPECT_EQ(std::string(message_.view()),
            std::string("-9000 NUMBER OF FITTING DATA > 10000") + std::string(64, ' '));
}

TEST_F(IniData, BadValuesStopTheLoad) {
  const std::string text = "1\n2\n";
  for (const char* bad : {"abc\n", "NaN\n", "Infinity\n", "1e999\n", ",1\n", "/\n", "1.5\r2\n"}) {
    EXPECT_EQ(load(text + bad + "3\n"), korvalinde::kReadingError) << bad;
    EXPECT_EQ(count_, 2) << bad;
  }
  EXPECT_EQ(std::string(message_.view()),
            std::string("-9500 READING ERROR in FITTING DATA") + std::string(65, ' '));
}

TEST_F(IniData, LongLinesAreSkippedWithoutHoldingThem) {
  std::string text = std::string(1, '1') + std::string(200000, ' ') + "junk\n" + std::string(100000, ' ') + "2\n" +
                     std::string(65530, ' ') + "123.25\n" + std::string(65533, '\n') + "-7.5";
  ASSERT_EQ(load(text), 0);
  ASSERT_EQ(count_, 4);
  EXPECT_EQ(data0[1], 2.0);
  EXPECT_EQ(data0[2], 123.25);  // a value across two buffer fills
  EXPECT_EQ(data0[3], -7.5);
}

TEST_F(IniData, MissingFileOrDirectoryCannotBeOpened) {
  Message m{};
  int status = 0, count = 7;
  ini_data(status, m, dir_.path() + "/absent.txt", count);
  EXPECT_EQ(status, korvalinde::kCannotOpen);
  EXPECT_EQ(count, 7);
  EXPECT_EQ(std::string(m.view()).substr(0, 32), "-9900 CAN NOT OPEN FITTING DATA ");
  status = 0;
  ini_data(status, m, dir_.path(), count);
  EXPECT_EQ(status, korvalinde::kCannotOpen);
}

// read_values in runs of lines on threads (runs of at least 64 bytes here):
// the values and the first fault of one pass, whatever the thread count.
class ReadValues : public ::testing::Test {
 protected:
  std::optional<korvalinde::InputError> read(const std::string& text, unsigned threads,
                                             korvalinde::detail::RawVector<double>& out) {
    const std::string path = dir_.path() + "/values.txt";
    testsupport::write_file(path, text);
    const int fd = ::open(path.c_str(), O_RDONLY);
    out.clear();
    auto fault = korvalinde::read_values(fd, fields_, out, threads, 64);
    ::close(fd);
    return fault;
  }
  // Reads `text` on 1, 2, 3 and 8 threads; the values must agree bit for
  // bit, the faults in every part. Returns the one-thread fault.
  std::optional<korvalinde::InputError> agree(const std::string& text, std::size_t& count) {
    korvalinde::detail::RawVector<double> one, many;
    const auto first = read(text, 1, one);
    for (unsigned t : {2u, 3u, 8u}) {
      const auto fault = read(text, t, many);
      EXPECT_EQ(fault.has_value(), first.has_value()) << t;
      if (fault && first) {
        EXPECT_EQ(fault->line, first->line) << t;
        EXPECT_EQ(fault->column, first->column) << t;
        EXPECT_EQ(fault->code, first->code) << t;
        EXPECT_EQ(fault->message, first->message) << t;
      }
      EXPECT_TRUE(many.size() == one.size() &&
                  std::memcmp(many.data(), one.data(), one.size() * sizeof(double)) == 0)
          << t << " threads: " << many.size() << " values, one thread " << one.size();
    }
    count = one.size();
    return first;
  }

  testsupport::TempDir dir_;
  korvalinde::FieldSpec fields_{};
};

TEST_F(ReadValues, RunsOnThreadsReadWhatOnePassReads) {
  std::string text;
  for (int i = 0; i < 20000; ++i) {
    const std::string v = std::to_string(i) + "." + std::to_string(i % 997) + "e-" + std::to_string(i % 5);
    text += i % 11 == 0 ? "\n" : i % 13 == 0 ? " \t" + v + " 7 / x\r\n" : i % 17 == 0 ? v + ",3\n" : v + "\n";
  }
  text += "-1.5";  // no line end
  std::size_t n = 0;
  EXPECT_FALSE(agree(text, n));
  EXPECT_EQ(n, 20000u - 20000 / 11 - 1 + 1);
}

// Short decimals in every nearby form: each read as the one pass reads it.
TEST_F(ReadValues, ShortNumbersInEveryLineFormReadAsOnePassReads) {
  const char* const forms[] = {"%s\n", "%s\r\n", "%s\r", " %s\n", "%s 4\n", "%s,4\n", "%se1\n",
                               "%sx\n", "\n",     "%s",    "%s\t\n", "%s.\n", "-%s\n", "+%s\n"};
  std::mt19937_64 rng(3);
  for (int rep = 0; rep < 40; ++rep) {
    std::string text;
    for (int i = 0; i < 400; ++i) {
      std::string v = std::to_string(rng() % 100000000);
      if (rng() % 4 != 0) {
        const std::size_t k = rng() % (v.size() + 1);
        v = v.substr(0, k) + "." + v.substr(k);
      }
      const char* form = forms[rng() % 14];
      // Mostly clean lines; the odd forms now and then.
      if (rng() % 8 != 0) form = forms[0];
      char line[64];
      std::snprintf(line, sizeof line, form, v.c_str());
      text += line;
    }
    std::size_t n = 0;
    agree(text, n);
  }
}

TEST_F(ReadValues, TheFirstFaultInFileOrderIsNamedByItsLineAndField) {
  fields_ = {2, ';'};
  std::string head, tail;
  for (int i = 1; i <= 14999; ++i) head += std::to_string(i) + ";" + std::to_string(i % 100) + ".5\n";
  for (int i = 15001; i <= 20000; ++i) tail += std::to_string(i) + (i == 18000 ? "\n" : ";1\n");
  std::size_t n = 0;
  // A bad field deep in a later run, and a missing one further on.
  auto fault = agree(head + "15000;1.5x\n" + tail, n);
  ASSERT_TRUE(fault);
  EXPECT_EQ(fault->line, 15000u);
  EXPECT_EQ(fault->column, 2);
  EXPECT_EQ(fault->code, "not_a_number");
  EXPECT_EQ(fault->message, "'1.5x' is not a number");
  EXPECT_EQ(n, 14999u);  // the values before it are kept
  // The missing field comes first once the bad one is after it.
  fault = agree(head + tail + "15000;1.5x\n", n);
  ASSERT_TRUE(fault);
  EXPECT_EQ(fault->line, 17999u);
  EXPECT_EQ(fault->column, 2);
  EXPECT_EQ(fault->code, "no_column");
  EXPECT_EQ(fault->message, "no value in column 2");
  // Junk after a value blames its field; a field missing before the
  // chosen one is the first absent.
  fields_ = {3, ';'};
  fault = agree("1;2;3\n1;2 x;3\n", n);
  ASSERT_TRUE(fault);
  EXPECT_EQ(fault->line, 2u);
  EXPECT_EQ(fault->column, 2);
  fault = agree("1;2;3\n\n1\n", n);
  ASSERT_TRUE(fault);
  EXPECT_EQ(fault->line, 3u);
  EXPECT_EQ(fault->column, 2);
}

// With a blank separator a run of blanks and tabs is one separator, on the
// mapped and the streamed path alike; a byte-order mark opening the input is
// passed over when asked for, in either field rule.
TEST_F(ReadValues, BlankRunsSeparateOnceAndAByteOrderMarkIsPassedOver) {
  const char* const gaps[] = {" ", "  ", "\t", " \t  ", "   "};
  for (const char sep : {' ', '\0'}) {
    fields_ = {2, sep, true};
    std::string text = "\xEF\xBB\xBF";
    std::vector<double> want;
    for (int i = 0; i < 3000; ++i) {
      const std::string gap = gaps[i % 5];
      text += (i % 7 == 0 ? gap : "") + std::to_string(i) + gap + std::to_string(i % 89) + ".25" +
              (i % 3 == 0 ? gap + "x" : "") + (i % 4 == 0 ? gap : "") + "\n";
      want.push_back(i % 89 + 0.25);
    }
    std::size_t n = 0;
    const auto fault = agree(text, n);
    EXPECT_FALSE(fault) << fault->line << ": " << fault->message;
    korvalinde::detail::RawVector<double> got;
    read(text, 1, got);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), want.begin(), want.end())) << int(sep);
  }
  fields_ = {1, '\0', true};
  std::size_t n = 0;
  EXPECT_FALSE(agree("\xEF\xBB\xBF" "1.5\n2\n", n));
  EXPECT_EQ(n, 2u);
}

// Windows of 1 KiB here: lines longer than a window, with the value first,
// after a long run of blanks, or a token too long, read as one pass reads
// them; an endless line of NULs ends the reading at its line.
TEST_F(ReadValues, LinesLongerThanAWindowReadAsOnePassReads) {
  std::string text;
  for (int i = 0; i < 3000; ++i) {
    text += std::to_string(i) + ".25\n";
    if (i % 500 == 7) text += "8 " + std::string(3000, '\0') + "\n";
    if (i % 700 == 3) text += std::string(2500, ' ') + "4.5\n";
  }
  std::size_t n = 0;
  EXPECT_FALSE(agree(text, n));
  EXPECT_EQ(n, 3000u + 6 + 5);
  auto fault = agree(text + std::string(1 << 20, '\0'), n);
  ASSERT_TRUE(fault);
  EXPECT_EQ(fault->line, 3012u);
  EXPECT_EQ(fault->code, "not_a_number");
  fault = agree(text + std::string(5000, '7') + "\n1\n", n);
  ASSERT_TRUE(fault);
  EXPECT_EQ(fault->line, 3012u);
  EXPECT_EQ(n, 3011u);
}

// A file rewritten in place or cut short while it is read on threads: the
// values of one of its states, or the fault "changed", never anything else.
TEST_F(ReadValues, AFileChangedWhileReadGivesOneStateOrSaysSo) {
  const std::string path = dir_.path() + "/race.txt";
  const std::string line = "1234567890.123456\n", nine = "1\n1\n1\n1\n1\n1\n1\n1\n1\n";
  const std::size_t n = std::size_t{1} << 20, start = (n - n / 8) * line.size();
  std::string rewrite;
  for (std::size_t i = 0; i < n / 8; ++i) rewrite += nine;
  std::string before;
  for (std::size_t i = 0; i < n; ++i) before += line;
  for (int attempt = 0; attempt < 6; ++attempt) {
    const bool cut = attempt % 2 == 1;
    testsupport::write_file(path, before);
    const int fd = ::open(path.c_str(), O_RDONLY);
    const int wfd = ::open(path.c_str(), O_WRONLY);
    korvalinde::detail::RawVector<double> got, state;
    std::thread writer([&] {
      if (cut) {
        EXPECT_EQ(::ftruncate(wfd, static_cast<off_t>(start + 10)), 0);
      } else {
        EXPECT_EQ(::pwrite(wfd, rewrite.data(), rewrite.size(), static_cast<off_t>(start)),
                  static_cast<ssize_t>(rewrite.size()));
      }
    });
    const auto fault = korvalinde::read_values(fd, fields_, got, 2, 1 << 16);
    writer.join();
    ::close(wfd);
    ::close(fd);
    if (fault) {
      EXPECT_EQ(fault->code, "changed") << fault->message;
      continue;
    }
    // The state before, or the one after (read again, in one pass).
    const int again = ::open(path.c_str(), O_RDONLY);
    EXPECT_FALSE(korvalinde::read_values(again, fields_, state, 1));
    ::close(again);
    const bool first = got.size() == n && std::all_of(got.begin(), got.end(), [](double v) {
      return v == 1234567890.123456;
    });
    const bool last = got.size() == state.size() &&
                      std::memcmp(got.data(), state.data(), got.size() * sizeof(double)) == 0;
    EXPECT_TRUE(first || last) << attempt << ": " << got.size() << " values";
  }
}

// The dated reader in windows of a few hundred bytes, on 1 and 3 threads:
// the series and the first fault of reading the whole text at once.
TEST(DatedWindows, WindowsAndThreadsReadWhatTheWholeTextReads) {
  testsupport::TempDir dir;
  const std::string path = dir.path() + "/record.csv";
  std::string rows = "time,value,station\n\n";
  for (int i = 0; i < 3000; ++i) {
    char line[96];
    std::snprintf(line, sizeof line, "2001-%02d-%02dT%02d:00,%s,%s\n", 1 + i / 672 % 12,
                  1 + i / 24 % 28, i % 24, i % 19 == 0 ? "NA" : std::to_string(i % 97 * 0.5).c_str(),
                  i % 3 == 0 ? "a" : i % 5 == 0 ? "\"b, c\"" : "d");
    rows += line;
    if (i % 400 == 9) rows += "\n";
  }
  struct Case {
    std::string text;
    bool by;
    korvalinde::DuplicateRule duplicates;
  };
  const std::string dup = "2001-01-01T05:00,7,a\n";
  const std::vector<Case> cases = {
      {rows, false, korvalinde::DuplicateRule::Error},
      {rows, true, korvalinde::DuplicateRule::Error},
      {rows + dup + rows, true, korvalinde::DuplicateRule::Max},
      {rows + dup, true, korvalinde::DuplicateRule::Error},
      {rows + dup + "2002-01-01T00:00,x1,a\n", true, korvalinde::DuplicateRule::Last},
      {rows + "2002-01-01T00:00,x1\n" + rows, false, korvalinde::DuplicateRule::Error},
  };
  for (std::size_t c = 0; c < cases.size(); ++c) {
    korvalinde::CsvOptions o;
    o.value = korvalinde::column_ref("value");
    o.time = {korvalinde::column_ref("time")};
    if (cases[c].by) o.by = korvalinde::column_ref("station");
    o.duplicates = cases[c].duplicates;
    korvalinde::DatedRecord whole, windows;
    const auto expected = korvalinde::read_dated(cases[c].text, path, o, whole);
    testsupport::write_file(path, cases[c].text);
    for (const std::size_t window : {std::size_t{200}, std::size_t{4096}}) {
      for (const unsigned threads : {1u, 3u}) {
        o.window = window;
        o.threads = threads;
        const auto fault = korvalinde::read_dated_file(path, o, windows);
        const std::string at = "case " + std::to_string(c) + ", window " + std::to_string(window) +
                               ", " + std::to_string(threads) + " threads";
        ASSERT_EQ(fault.has_value(), expected.has_value()) << at << (fault ? fault->text() : "");
        if (fault) {
          EXPECT_EQ(fault->text(), expected->text()) << at;
          continue;
        }
        ASSERT_EQ(windows.series.size(), whole.series.size()) << at;
        for (std::size_t k = 0; k < whole.series.size(); ++k) {
          const korvalinde::Series &a = whole.series[k], &b = windows.series[k];
          EXPECT_EQ(b.group, a.group) << at;
          EXPECT_TRUE(b.time == a.time) << at;
          EXPECT_TRUE(b.value.size() == a.value.size() &&
                      std::memcmp(b.value.data(), a.value.data(), a.value.size() * sizeof(double)) == 0)
              << at;
          EXPECT_EQ(b.n_missing, a.n_missing) << at;
          EXPECT_EQ(b.n_merged, a.n_merged) << at;
        }
      }
    }
  }
  // A line longer than a window is refused at its line.
  korvalinde::CsvOptions o;
  o.value = korvalinde::column_ref("value");
  o.window = 200;
  testsupport::write_file(path, "value\n1\n2\n" + std::string(300, '3') + "\n4\n");
  korvalinde::DatedRecord r;
  const auto fault = korvalinde::read_dated_file(path, o, r);
  ASSERT_TRUE(fault);
  EXPECT_EQ(fault->text(), path + ":4: line longer than 200 bytes");
}

}  // namespace
