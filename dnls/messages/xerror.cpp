#include "dnls/messages/xerror.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dnls/io/format.hpp"
#include "dnls/messages/machine.hpp"
#include "dnls/io/units.hpp"

namespace dnls {
namespace {

// The control store and the message table belong to the calling thread: a
// thread starts with the initial settings and an empty table, and what it
// changes or records is invisible to other threads. Both are small enough
// (about half a kilobyte) to live in thread_local storage directly.

// Control store: current error number, control flag, first unit, print limit,
// number of units, units 2 to 5.
thread_local int iparam[9] = {0, 2, 0, 10, 1, 0, 0, 0, 0};

// Message table: key fields cut and blank-padded to 8, 8 and 20 characters.
constexpr int kTableSize = 10;
struct MessageTable {
  int nmsg = 0;
  char libtab[kTableSize][8]{};
  char subtab[kTableSize][8]{};
  char mestab[kTableSize][20]{};
  int nertab[kTableSize]{};
  int levtab[kTableSize]{};
  int kount[kTableSize]{};
  int kountx = 0;
};
thread_local MessageTable table;

// Copies the first n characters of s into out, blank-padded when s is shorter.
void cut(char* out, std::size_t n, std::string_view s) {
  std::size_t k = std::min(n, s.size());
  std::memcpy(out, s.data(), k);
  std::memset(out + k, ' ', n - k);
}

// Scratch line for the heading, classification and error-number texts; every
// text put together here is at most 66 characters long.
struct Line72 {
  char text[72];
  std::size_t n = 0;
  Line72& add(std::string_view s) {
    std::size_t k = std::min(s.size(), sizeof text - n);
    std::memcpy(text + n, s.data(), k);
    n += k;
    return *this;
  }
  std::string_view view() const { return {text, n}; }
};

// Output units of the service with 0 replaced by the error-message unit.
int output_units(int units[5]) {
  int n = 0;
  XGETUA(units, n);
  for (int i = 0; i < n; ++i)
    if (units[i] == 0) units[i] = I1MACH(4);
  return n;
}

}  // namespace

// --- control store -------------------------------------------------------------

int J4SAVE(int iwhich, int ivalue, bool iset) {
  if (iwhich < 1 || iwhich > 9) return 0;  // no such slot; nothing to read or store
  int old = iparam[iwhich - 1];
  if (iset) iparam[iwhich - 1] = ivalue;
  return old;
}

void XGETUA(int iunita[5], int& n) {
  // Kept within the five units the caller's array has room for.
  n = std::clamp(J4SAVE(5, 0, false), 0, 5);
  for (int i = 1; i <= n; ++i) iunita[i - 1] = J4SAVE(i == 1 ? 3 : i + 4, 0, false);
}

void XERCNT(std::string_view, std::string_view, std::string_view, int, int, int&) {}

void XERHLT(std::string_view) {
  std::fflush(nullptr);
  io::close_all();
  std::_Exit(0);
}

void FDUMP() {}

// --- dispatch and line printer -----------------------------------------------

void XERMSG(std::string_view librar, std::string_view subrou, std::string_view messg, int nerr,
            int level) {
  int kontrl = J4SAVE(2, 0, false);
  const int maxmes = J4SAVE(4, 0, false);

  if (nerr < -9999999 || nerr > 99999999 || nerr == 0 || level < -1 || level > 2) {
    XERPRN(" ***", -1,
           "FATAL ERROR IN...$$ XERMSG -- INVALID ERROR NUMBER OR LEVEL$$ JOB ABORT DUE TO "
           "FATAL ERROR.",
           72);
    int unused = 0;
    XERSVE(" ", " ", " ", 0, 0, 0, unused);
    XERHLT(" ***XERMSG -- INVALID INPUT");
  }

  J4SAVE(1, nerr, true);
  int count = 0;
  XERSVE(librar, subrou, messg, 1, nerr, level, count);
  if (level == -1 && count > 1) return;

  char lib[8], sub[8], mes[20];
  cut(lib, 8, librar);
  cut(sub, 8, subrou);
  cut(mes, 20, messg);
  XERCNT({lib, 8}, {sub, 8}, {mes, 20}, nerr, level, kontrl);
  kontrl = std::clamp(kontrl, -2, 2);
  const int mkntrl = std::abs(kontrl);

  const bool skip = (level < 2 && kontrl == 0) || (level == 0 && count > maxmes) ||
                    (level == 1 && count > maxmes && mkntrl == 1) ||
                    (level == 2 && count > std::max(1, maxmes));
  if (!skip) {
    if (kontrl != 0) {
      Line72 heading;
      heading.add("MESSAGE FROM ROUTINE ").add(subrou.substr(0, 16)).add(" IN LIBRARY ");
      heading.add(librar.substr(0, 16)).add(".");
      XERPRN(" ***", -1, heading.view(), 72);
    }
    if (kontrl > 0) {
      Line72 kind;
      kind.add(level <= 0   ? "INFORMATIVE MESSAGE,"
               : level == 1 ? "POTENTIALLY RECOVERABLE ERROR,"
                            : "FATAL ERROR,");
      const bool aborted = (mkntrl == 2 && level >= 1) || (mkntrl == 1 && level == 2);
      kind.add(aborted ? " PROG ABORTED," : " PROG CONTINUES,").add(" TRACEBACK REQUESTED");
      XERPRN(" ***", -1, kind.view(), 72);
    }
    XERPRN(" *  ", -1, messg, 72);
    if (kontrl > 0) {
      // "ERROR NUMBER = " and the 8-character field of NERR with its blanks dropped.
      char field[8];
      fmt::format_to(field, sizeof field, "(I8)", {nerr});
      int first = 0;
      while (first < 7 && field[first] == ' ') ++first;
      Line72 number;
      number.add("ERROR NUMBER = ").add({field + first, static_cast<std::size_t>(8 - first)});
      XERPRN(" *  ", -1, number.view(), 72);
      FDUMP();
    }
    if (kontrl != 0) {
      XERPRN(" *  ", -1, " ", 72);
      XERPRN(" ***", -1, "END OF MESSAGE", 72);
      XERPRN("    ", 0, " ", 72);
    }
  }

  if (level <= 0 || (level == 1 && mkntrl <= 1)) return;

  if (kontrl > 0 && count < std::max(1, maxmes)) {
    XERPRN(" ***", -1,
           level == 1 ? "JOB ABORT DUE TO UNRECOVERED ERROR." : "JOB ABORT DUE TO FATAL ERROR.",
           72);
    int unused = 0;
    XERSVE(" ", " ", " ", -1, 0, 0, unused);
  }
  XERHLT(messg);
}

void XERPRN(std::string_view prefix, int npref, std::string_view messg, int nwrap) {
  int units[5];
  const int nunit = output_units(units);

  // Line buffer: a prefix of at most 16 and a piece of at most 132 characters.
  char cbuff[148];
  const int lpref = std::min(npref < 0 ? static_cast<int>(prefix.size()) : npref, 16);
  cut(cbuff, static_cast<std::size_t>(lpref), prefix);
  const int lwrap = std::clamp(nwrap, 16, 132);

  auto emit = [&](int length) {
    for (int i = 0; i < nunit; ++i)
      io::write_record(units[i], {cbuff, static_cast<std::size_t>(length)});
  };
  // Piece of the message at 1-based position p, length n, after the prefix.
  auto put = [&](int p, int n) {
    std::memcpy(cbuff + lpref, messg.data() + (p - 1), static_cast<std::size_t>(n));
    emit(lpref + n);
  };

  int lenmsg = static_cast<int>(messg.size());
  while (lenmsg > 0 && messg[lenmsg - 1] == ' ') --lenmsg;
  if (lenmsg == 0) {
    cbuff[lpref] = ' ';
    emit(lpref + 1);
    return;
  }
  // Character at 1-based position i of the message.
  auto at = [&](int i) { return messg[static_cast<std::size_t>(i - 1)]; };

  // Longest piece of at most lwrap characters starting at p, broken at the last
  // blank among the relative positions lwrap+1 down to 2 (the blank is consumed),
  // else cut hard. Returns the piece length; skip receives 1 when a blank is consumed.
  auto wrap = [&](int p, int& skip) {
    skip = 0;
    for (int i = lwrap + 1; i >= 2; --i) {
      if (at(p + i - 1) == ' ') {
        skip = 1;
        return i - 1;
      }
    }
    return lwrap;
  };

  int nextc = 1;
  for (;;) {
    // Relative position of the first "$$" in nextc..lenmsg, 0 when there is none.
    int mark = 0;
    for (int i = nextc; i < lenmsg; ++i) {
      if (at(i) == '$' && at(i + 1) == '$') {
        mark = i - nextc + 1;
        break;
      }
    }
    if (mark == 1) {
      // A mark right at the start is skipped without printing; the search
      // resumes even when it was the end of the text, which then prints an
      // empty piece.
      nextc += 2;
      continue;
    }
    int piece = 0;
    int skip = 0;
    if (mark == 0) {
      piece = lenmsg + 1 - nextc;
      if (piece > lwrap) piece = wrap(nextc, skip);
    } else if (mark > lwrap + 1) {
      piece = wrap(nextc, skip);
    } else {
      piece = mark - 1;
      skip = 2;
    }
    put(nextc, piece);
    nextc += piece + skip;
    if (nextc > lenmsg) break;
  }
}

// --- message table -------------------------------------------------------------

void XERSVE(std::string_view librar, std::string_view subrou, std::string_view messg, int kflag,
            int nerr, int level, int& icount) {
  MessageTable& t = table;
  if (kflag <= 0) {
    if (t.nmsg == 0) return;
    int units[5];
    const int nunit = output_units(units);
    for (int k = 0; k < nunit; ++k) {
      const int unit = units[k];
      fmt::write(unit,
                 "('0          ERROR MESSAGE SUMMARY' /"
                 " ' LIBRARY    SUBROUTINE MESSAGE START             NERR',"
                 " '     LEVEL     COUNT')");
      for (int i = 0; i < t.nmsg; ++i) {
        fmt::write(unit, "(1X,A,3X,A,3X,A,3I10)",
                   {std::string_view(t.libtab[i], 8), std::string_view(t.subtab[i], 8),
                    std::string_view(t.mestab[i], 20), t.nertab[i], t.levtab[i], t.kount[i]});
      }
      if (t.kountx != 0)
        fmt::write(unit, "('0OTHER ERRORS NOT INDIVIDUALLY TABULATED = ', I10)", {t.kountx});
      fmt::write(unit, "(1X)");
    }
    if (kflag == 0) {
      t.nmsg = 0;
      t.kountx = 0;
    }
    return;
  }

  char lib[8], sub[8], mes[20];
  cut(lib, 8, librar);
  cut(sub, 8, subrou);
  cut(mes, 20, messg);
  for (int i = 0; i < t.nmsg; ++i) {
    if (std::memcmp(lib, t.libtab[i], 8) == 0 && std::memcmp(sub, t.subtab[i], 8) == 0 &&
        std::memcmp(mes, t.mestab[i], 20) == 0 && nerr == t.nertab[i] && level == t.levtab[i]) {
      icount = ++t.kount[i];
      return;
    }
  }
  if (t.nmsg < kTableSize) {
    std::memcpy(t.libtab[t.nmsg], lib, 8);
    std::memcpy(t.subtab[t.nmsg], sub, 8);
    std::memcpy(t.mestab[t.nmsg], mes, 20);
    t.nertab[t.nmsg] = nerr;
    t.levtab[t.nmsg] = level;
    t.kount[t.nmsg] = 1;
    ++t.nmsg;
    icount = 1;
    return;
  }
  ++t.kountx;
  icount = 0;
}

}  // namespace dnls
