// Error-message service: numbered, levelled messages with a control store,
// a table of the messages seen, and a summary.
//
// The control store and the message table belong to the calling thread: each
// thread starts with the initial settings (control flag 2, print limit 10, the
// error-message unit) and an empty table. Messages go to the calling thread's
// output units (dnls/io/units.hpp).
#pragma once

#include <string_view>

namespace dnls {

// --- control store ---------------------------------------------------------

// Returns the value slot `iwhich` (1..9) held on entry; stores `ivalue` in
// it when `iset` is true.
int J4SAVE(int iwhich, int ivalue, bool iset);

// Output units of the service: n is set to the number in use, iunita[0..n-1]
// to the units (0 stands for the error-message unit).
void XGETUA(int iunita[5], int& n);

// Hook called for every accepted message before printing; may change kontrl.
void XERCNT(std::string_view librar, std::string_view subrou, std::string_view messg,
            int nerr, int level, int& kontrl);

// Ends the run: flushes the standard streams and the calling thread's units,
// closes that thread's files and exits with status 0. Prints nothing.
[[noreturn]] void XERHLT(std::string_view messg);

// Hook called after the error-number line; does nothing.
void FDUMP();

// --- dispatch and line printer -----------------------------------------------

// Reports message `messg` of routine `subrou` in library `librar` with error
// number `nerr` and level `level` (-1 once only, 0 warning, 1 recoverable,
// 2 fatal). Returns unless the report ends the run.
void XERMSG(std::string_view librar, std::string_view subrou, std::string_view messg,
            int nerr, int level);

// Writes `messg` to every output unit, each line prefixed by the first
// `npref` characters of `prefix` (all when negative, at most 16), broken at
// "$$" and at blanks to at most `nwrap` (16..132) characters.
void XERPRN(std::string_view prefix, int npref, std::string_view messg, int nwrap);

// --- quiet mode ------------------------------------------------------------------

// Quiet mode for library callers. While a QuietScope is alive, the solver and
// the message service on the calling thread print nothing and never end the
// process: the control flag is 0, so XERMSG only records messages of levels
// -1 to 1 in the table (they still count there) and returns to its caller,
// and the solver returns its INFO (see DNLS1E in dnls/solver/dnls.hpp).
// The destructor restores the flag the scope found, so scopes nest. Other
// threads are not affected. Level-2 messages stay fatal; only programming
// errors raise them (an invalid error number or level, a machine constant
// index out of range).
class QuietScope {
 public:
  QuietScope() : saved_(J4SAVE(2, 0, true)) {}
  ~QuietScope() { J4SAVE(2, saved_, true); }
  QuietScope(const QuietScope&) = delete;
  QuietScope& operator=(const QuietScope&) = delete;

 private:
  int saved_;
};

// --- message table -------------------------------------------------------------

// kflag > 0: records the message and sets icount to its count (0 when the
// table is full). kflag == 0: prints the summary and clears the table.
// kflag < 0: prints the summary and keeps the table.
void XERSVE(std::string_view librar, std::string_view subrou, std::string_view messg,
            int kflag, int nerr, int level, int& icount);

}  // namespace dnls
