// Fortran-style formatted output.
//
// A layout is written as the parenthesised format it stands for, for example
// "(2x,F10.5,1x,F12.7,3x,'DPA_CUT',/)", and interpreted item by item:
//   Fw.d, kFw.d   a real, rounded to nearest (exact ties to even), right-justified
//   Iw            an integer, right-justified
//   Aw, A         a text, right-justified / cut to w, or whole
//   kPEw.d        scientific notation with k digits before the point (1PE15.6)
//   nX            n blanks (blanks pending at the end of a record are dropped,
//                 unless the record would otherwise be empty)
//   'text'        the literal, trailing blanks included
//   /             ends the record
//   k( ... )      the group repeated k times
// Numbers too wide for their field print as w asterisks; infinities and NaN
// as Infinity, -Infinity and NaN.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>

namespace dnls::fmt {

// One value consumed by a numeric or text item.
struct Arg {
  enum class Kind { Real, Int, Text } kind;
  double real = 0;
  std::int64_t integer = 0;
  std::string_view text;

  Arg(double v) : kind(Kind::Real), real(v) {}                  // NOLINT
  Arg(int v) : kind(Kind::Int), integer(v) {}                   // NOLINT
  Arg(std::int64_t v) : kind(Kind::Int), integer(v) {}          // NOLINT
  Arg(std::string_view v) : kind(Kind::Text), text(v) {}        // NOLINT
  Arg(const char* v) : kind(Kind::Text), text(v) {}             // NOLINT
};

// Longest record the layer builds.
inline constexpr std::size_t kMaxRecord = 4096;

// Receives each finished record (without line end).
using RecordSink = void (*)(void* context, std::string_view record);

// Interprets `layout` with `values`, handing each record to `sink`.
void render(std::string_view layout, std::span<const Arg> values, RecordSink sink, void* context);

// Interprets `layout` with `values` and writes each record to the unit.
void write(int unit, std::string_view layout, std::initializer_list<Arg> values = {});

// List-directed output of a text: one blank, then the text unchanged.
void write_free(int unit, std::string_view text);

// Internal write of a one-record layout into `out` (capacity `cap`).
// Returns the record's length (cut to `cap`).
std::size_t format_to(char* out, std::size_t cap, std::string_view layout,
                      std::initializer_list<Arg> values);

// Single fields, appended to `out` (exactly w characters each).
void put_F(char* out, int w, int d, double v);
void put_I(char* out, int w, std::int64_t v);
void put_PE(char* out, int k, int w, int d, double v);

}  // namespace dnls::fmt
