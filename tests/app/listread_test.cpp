// List-directed reading of the control input.
#include "korvalinde/classic/listread.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace {

using korvalinde::ListInput;
using korvalinde::ListItem;
using korvalinde::ListResult;
using korvalinde::read_list;
using Status = ListResult::Status;

// The values of the control input, with recognisable start values.
struct Control {
  std::string name = "<none>";
  std::int32_t bins = -7;
  double prob = -7.5;
  std::string answer = " ";
  std::string result = "<none>";

  ListResult first(ListInput& in) {
    const ListItem items[] = {ListItem::of_text(name), ListItem::of_int(bins),
                              ListItem::of_real(prob), ListItem::of_text(answer, 1)};
    return read_list(in, items);
  }
  ListResult second(ListInput& in) {
    const ListItem items[] = {ListItem::of_text(result)};
    return read_list(in, items);
  }
};

Control read_first(std::string_view text, Status expected = Status::Ok) {
  ListInput in(text);
  Control c;
  EXPECT_EQ(c.first(in).status, expected) << text;
  return c;
}

// A file holding `content`, opened for reading; removed at the end.
class TempInput {
 public:
  explicit TempInput(std::string_view content) {
    char path[] = "/tmp/listread_test_XXXXXX";
    fd_ = mkstemp(path);
    path_ = path;
    for (std::size_t done = 0; done < content.size();) {
      const ssize_t n = write(fd_, content.data() + done, content.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    lseek(fd_, 0, SEEK_SET);
  }
  ~TempInput() {
    close(fd_);
    unlink(path_.c_str());
  }
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  std::string path_;
};

TEST(ListRead, TypicalControlInputs) {
  {
    ListInput in("data.txt 20 0.99 y\nres.dat\n");
    Control c;
    ASSERT_EQ(c.first(in).status, Status::Ok);
    EXPECT_EQ(c.name, "data.txt");
    EXPECT_EQ(c.bins, 20);
    EXPECT_EQ(c.prob, 0.99);
    EXPECT_EQ(c.answer, "y");
    ASSERT_EQ(c.second(in).status, Status::Ok);
    EXPECT_EQ(c.result, "res.dat");
  }
  Control c = read_first("data.txt, 20, 0.99, y");
  EXPECT_EQ(c.name, "data.txt");
  EXPECT_EQ(c.bins, 20);
  EXPECT_EQ(c.prob, 0.99);
  EXPECT_EQ(c.answer, "y");

  c = read_first("'my data.txt' 20 0.99 n");
  EXPECT_EQ(c.name, "my data.txt");
  EXPECT_EQ(c.answer, "n");

  c = read_first("data.txt 12 0.9 ' yes'");
  EXPECT_EQ(c.answer, " ");

  c = read_first("data.txt 12 0.9 Yes-please");
  EXPECT_EQ(c.answer, "Y");
}

TEST(ListRead, EveryStatementStartsOnAFreshLine) {
  ListInput in("data.txt 12 0.9 y same.dat\nnext.dat\n");
  Control c;
  ASSERT_EQ(c.first(in).status, Status::Ok);
  ASSERT_EQ(c.second(in).status, Status::Ok);
  EXPECT_EQ(c.result, "next.dat");

  // Values spread over lines: the statement ends on the answer's line.
  ListInput spread("\n  data.txt\n\n20\n0.99\ny trailing\nres.dat");
  Control d;
  ASSERT_EQ(d.first(spread).status, Status::Ok);
  EXPECT_EQ(d.answer, "y");
  ASSERT_EQ(d.second(spread).status, Status::Ok);
  EXPECT_EQ(d.result, "res.dat");

  // With nothing after the skipped rest of the line, the second read fails.
  ListInput same_line("data.txt 12 0.9 y same.dat\n");
  Control e;
  ASSERT_EQ(e.first(same_line).status, Status::Ok);
  const ListResult r = e.second(same_line);
  EXPECT_EQ(r.status, Status::EndOfInput);
  EXPECT_EQ(r.item, 1);
  EXPECT_EQ(e.result, "<none>");
}

TEST(ListRead, SlashEndsTheStatementAndKeepsTheRest) {
  ListInput in("data.txt 20 0.99 / res.dat\nnext.dat\n");
  Control c;
  ASSERT_EQ(c.first(in).status, Status::Ok);
  EXPECT_EQ(c.prob, 0.99);
  EXPECT_EQ(c.answer, " ");
  ASSERT_EQ(c.second(in).status, Status::Ok);
  EXPECT_EQ(c.result, "next.dat");

  c = read_first("data.txt,5/0.5 y");
  EXPECT_EQ(c.bins, 5);
  EXPECT_EQ(c.prob, -7.5);

  c = read_first("/");
  EXPECT_EQ(c.name, "<none>");

  // Unquoted, a slash ends the name and the statement; quoted, it is text.
  c = read_first("dir/data.txt 20 0.5 y");
  EXPECT_EQ(c.name, "dir");
  EXPECT_EQ(c.bins, -7);
  c = read_first("'dir/data.txt' 20 0.5 y");
  EXPECT_EQ(c.name, "dir/data.txt");
  EXPECT_EQ(c.answer, "y");
}

TEST(ListRead, SeparatorsAndNullValues) {
  // A comma starting the next line belongs to the separator after "20".
  Control c = read_first("data.txt 20\n,0.99 y");
  EXPECT_EQ(c.bins, 20);
  EXPECT_EQ(c.prob, 0.99);
  EXPECT_EQ(c.answer, "y");

  c = read_first("data.txt\t20 \t,\t0.99\ty");
  EXPECT_EQ(c.name, "data.txt");
  EXPECT_EQ(c.prob, 0.99);
  EXPECT_EQ(c.answer, "y");

  c = read_first("data.txt,,0.5,y");
  EXPECT_EQ(c.bins, -7);
  EXPECT_EQ(c.prob, 0.5);
  EXPECT_EQ(c.answer, "y");

  c = read_first("data.txt , \n , 0.5 y");  // line ends count as blanks
  EXPECT_EQ(c.bins, -7);
  EXPECT_EQ(c.prob, 0.5);

  c = read_first(",20,0.5,y");
  EXPECT_EQ(c.name, "<none>");
  EXPECT_EQ(c.bins, 20);

  c = read_first("data.txt,,,y");
  EXPECT_EQ(c.bins, -7);
  EXPECT_EQ(c.prob, -7.5);
  EXPECT_EQ(c.answer, "y");

  // Control characters other than tabs are part of a value.
  c = read_first("da\vta 20 0.5 y");
  EXPECT_EQ(c.name, "da\vta");
  const ListResult r = [] {
    ListInput in("data.txt 2\f0 0.5 y");
    Control d;
    return d.first(in);
  }();
  EXPECT_EQ(r.status, Status::BadInteger);
  EXPECT_EQ(r.token, "2?0");
}

TEST(ListRead, QuotedText) {
  Control c = read_first("'it''s here' 1 1 \"\"\"\"");
  EXPECT_EQ(c.name, "it's here");
  EXPECT_EQ(c.answer, "\"");

  c = read_first("\"a'b, c/d\" 1 1 ''");
  EXPECT_EQ(c.name, "a'b, c/d");
  EXPECT_EQ(c.answer, "");

  // A line end inside quotes is not part of the text.
  c = read_first("'my\r\ndata.txt' 1 1 y");
  EXPECT_EQ(c.name, "mydata.txt");

  // Quotes inside an unquoted value are ordinary characters.
  c = read_first("it's 1 1 y");
  EXPECT_EQ(c.name, "it's");

  ListInput open("data.txt 1 1 'y\n");
  Control d;
  const ListResult r = d.first(open);
  EXPECT_EQ(r.status, Status::EndOfInput);
  EXPECT_EQ(r.item, 4);
}

TEST(ListRead, CarriageReturnsBeforeLineEnds) {
  ListInput in("data.txt 20 0.99 y\r\nres.dat\r\n");
  Control c;
  ASSERT_EQ(c.first(in).status, Status::Ok);
  EXPECT_EQ(c.answer, "y");
  ASSERT_EQ(c.second(in).status, Status::Ok);
  EXPECT_EQ(c.result, "res.dat");

  c = read_first("data.txt 20 0.99 ye\r");
  EXPECT_EQ(c.answer, "y");
  ListInput last("a 1 1 y\nres.dat\r");
  ASSERT_EQ(c.first(last).status, Status::Ok);
  ASSERT_EQ(c.second(last).status, Status::Ok);
  EXPECT_EQ(c.result, "res.dat");

  // A carriage return elsewhere is an ordinary character.
  c = read_first("da\rta 20 0.99 y");
  EXPECT_EQ(c.name, "da\rta");
}

TEST(ListRead, Integers) {
  for (const auto& [text, value] : {std::pair{"+20", 20}, {"-5", -5}, {"007", 7},
                                    {"2147483647", 2147483647}, {"-2147483648", INT32_MIN}}) {
    const Control c = read_first(std::string("f ") + text + " 1 y");
    EXPECT_EQ(c.bins, value) << text;
  }
  for (const char* text : {"2147483648", "-2147483649", "99999999999999999999", "20.0", "1e2",
                           "abc", "+", "-", "'20'", "2O"}) {
    const std::string input = std::string("f ") + text + " 1 y";
    ListInput in(input);
    Control c;
    const ListResult r = c.first(in);
    EXPECT_EQ(r.status, Status::BadInteger) << text;
    EXPECT_EQ(r.item, 2);
    EXPECT_EQ(r.token, text);
    EXPECT_EQ(c.bins, -7);
  }
}

TEST(ListRead, Reals) {
  const double inf = std::numeric_limits<double>::infinity();
  for (const auto& [text, value] :
       {std::pair{"9.9D-1", 0.99}, {"9.9d-1", 0.99}, {".5", 0.5}, {"5.", 5.0}, {"1e-3", 1e-3},
        {"+1E+3", 1000.0}, {"-2.5d2", -250.0}, {"7", 7.0}, {"0.1", 0.1},
        {"2.2250738585072011e-308", 2.2250738585072011e-308}, {"inf", inf},
        {"-Infinity", -inf}, {"INF", inf}, {"1e999", inf}, {"-1d400", -inf}, {"1e-999", 0.0},
        {"0.000001e-320", 0.0}, {"1e99999999999999999999", inf}}) {
    const Control c = read_first(std::string("f 1 ") + text + " y");
    EXPECT_EQ(c.prob, value) << text;
    EXPECT_EQ(c.answer, "y") << text;
  }
  EXPECT_TRUE(std::isnan(read_first("f 1 NaN y").prob));
  EXPECT_TRUE(std::isnan(read_first("f 1 nAn y").prob));
  EXPECT_TRUE(std::signbit(read_first("f 1 -1e-999 y").prob));

  for (const char* text : {"1e", "e5", ".", "1.2.3", "0x10", "1e+", "1q5", "infinit", "nan(1)",
                           "1.0+5", "2*0.5", "--1", "0.99'"}) {
    const std::string input = std::string("f 1 ") + text + " y";
    ListInput in(input);
    Control c;
    const ListResult r = c.first(in);
    EXPECT_EQ(r.status, Status::BadReal) << text;
    EXPECT_EQ(r.item, 3);
    EXPECT_EQ(r.token, text);
    EXPECT_EQ(c.prob, -7.5);
  }
}

TEST(ListRead, EndOfInputNamesTheItem) {
  for (const auto& [text, item] : {std::pair{"", 1}, {" \n\t\n", 1}, {"data.txt 20", 3},
                                   {"data.txt 20 0.5,", 4}, {"data.txt,,", 3}}) {
    ListInput in(text);
    Control c;
    const ListResult r = c.first(in);
    EXPECT_EQ(r.status, Status::EndOfInput) << text;
    EXPECT_EQ(r.item, item) << text;
    EXPECT_EQ(r.token, "");
  }
  // The last value may end with the input.
  EXPECT_EQ(read_first("data.txt 20 0.5 y").answer, "y");
}

TEST(ListRead, OffendingTokenIsBounded) {
  const std::string token(5000, '9');
  const std::string input = "f " + token + " 1 y";
  ListInput in(input);
  Control c;
  const ListResult r = c.first(in);
  EXPECT_EQ(r.status, Status::BadInteger);
  EXPECT_EQ(r.token, token.substr(0, ListResult::kTokenShown));

  // A valid real longer than the parse buffer is refused rather than misread.
  const std::string real_input = "f 1 0." + std::string(3000, '9') + " y";
  ListInput long_real(real_input);
  EXPECT_EQ(c.first(long_real).status, Status::BadReal);
}

TEST(ListRead, LongValuesThroughTheBuffer) {
  // A 10 MB answer keeps one character; the next statement still finds its line.
  std::string content = "data.txt 20 0.99 ";
  content.append(10u << 20, 'y');
  content += "\nres.dat\n";
  TempInput file(content);
  ListInput in(file.fd());
  Control c;
  ASSERT_EQ(c.first(in).status, Status::Ok);
  EXPECT_EQ(c.answer, "y");
  EXPECT_LT(c.answer.capacity(), 64u);
  ASSERT_EQ(c.second(in).status, Status::Ok);
  EXPECT_EQ(c.result, "res.dat");

  // File names are kept whole, however long.
  const std::string name(3 * ListInput::kBufferSize + 17, 'n');
  TempInput names("'" + name + "' 1 1 y\n" + name + "x\n");
  ListInput in2(names.fd());
  ASSERT_EQ(c.first(in2).status, Status::Ok);
  EXPECT_EQ(c.name, name);
  ASSERT_EQ(c.second(in2).status, Status::Ok);
  EXPECT_EQ(c.result, name + "x");
}

TEST(ListRead, CarriageReturnAcrossABufferRefill) {
  const std::string lead(ListInput::kBufferSize - 1 - 8, ' ');
  const std::string content = lead + "data.txt\r\n20 0.5 y\r\nres.dat";
  ASSERT_EQ(content[ListInput::kBufferSize - 1], '\r');
  TempInput file(content);
  ListInput in(file.fd());
  Control c;
  ASSERT_EQ(c.first(in).status, Status::Ok);
  EXPECT_EQ(c.name, "data.txt");
  EXPECT_EQ(c.bins, 20);
  ASSERT_EQ(c.second(in).status, Status::Ok);
  EXPECT_EQ(c.result, "res.dat");
}

TEST(ListRead, ReadFailureIsNotEndOfInput) {
  const int fd = open("/", O_RDONLY);  // reading a directory fails
  ASSERT_GE(fd, 0);
  ListInput in(fd);
  Control c;
  const ListResult r = c.first(in);
  close(fd);
  EXPECT_EQ(r.status, Status::ReadError);
  EXPECT_EQ(r.item, 1);
  EXPECT_FALSE(r.token.empty());
}

}  // namespace
