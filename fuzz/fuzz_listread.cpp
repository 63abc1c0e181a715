// Fuzz target: the control-input reader with the two read statements of a
// run, on the fuzzer's bytes as the whole control input. The bytes are read
// once from memory and once from a descriptor that hands them over in small
// packets, so that buffer refills fall everywhere (between a carriage return
// and its line end too); both readings must agree.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz/support.hpp"
#include "korvalinde/classic/listread.hpp"

namespace {

using korvalinde::ListInput;
using korvalinde::ListItem;
using korvalinde::ListResult;
using Status = ListResult::Status;

struct Outcome {
  ListResult first, second;
  bool second_done = false;
  // Start values that a null value or a slash leaves in place.
  std::string data_name = "unset", answer = "?", result_name = "unset";
  std::int32_t bins = 424242;
  double probability = -7.25;
};

const char* status_name(Status s) {
  switch (s) {
    case Status::Ok:
      return "Ok";
    case Status::EndOfInput:
      return "EndOfInput";
    case Status::BadInteger:
      return "BadInteger";
    case Status::BadReal:
      return "BadReal";
    case Status::ReadError:
      return "ReadError";
  }
  return "invalid";
}

// Checks one statement's result against the items it read.
void check_result(const ListResult& r, const ListItem* items, int count, const char* which) {
  if (r.status == Status::Ok) {
    if (r.item != 0 || !r.token.empty())
      fuzz::fail("%s: Ok with item %d or a token", which, r.item);
    return;
  }
  if (r.item < 1 || r.item > count) fuzz::fail("%s: failed item %d out of range", which, r.item);
  const ListItem::Kind kind = items[r.item - 1].kind;
  switch (r.status) {
    case Status::EndOfInput:
      if (!r.token.empty()) fuzz::fail("%s: end of input with a token", which);
      break;
    case Status::BadInteger:
      if (kind != ListItem::Kind::Int) fuzz::fail("%s: bad integer for a non-integer item", which);
      break;
    case Status::BadReal:
      if (kind != ListItem::Kind::Real) fuzz::fail("%s: bad real for a non-real item", which);
      break;
    case Status::ReadError:
      fuzz::fail("%s: read error on an input that cannot fail", which);
    default:
      fuzz::fail("%s: status %d out of range", which, static_cast<int>(r.status));
  }
  if (r.token.size() > ListResult::kTokenShown) fuzz::fail("%s: token too long", which);
  for (char c : r.token) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
      fuzz::fail("%s: control character in the shown token", which);
  }
}

Outcome read_both(ListInput& in) {
  Outcome o;
  const ListItem first[] = {ListItem::of_text(o.data_name), ListItem::of_int(o.bins),
                            ListItem::of_real(o.probability), ListItem::of_text(o.answer, 1)};
  o.first = korvalinde::read_list(in, first);
  check_result(o.first, first, 4, "first read");
  if (o.first.status == Status::Ok) {
    const ListItem second[] = {ListItem::of_text(o.result_name)};
    o.second = korvalinde::read_list(in, second);
    o.second_done = true;
    check_result(o.second, second, 1, "second read");
  }
  if (o.answer.size() > 1) fuzz::fail("answer keeps %zu characters", o.answer.size());
  for (const std::string* s : {&o.data_name, &o.answer, &o.result_name}) {
    if (s->find('\n') != std::string::npos) fuzz::fail("line end inside a text value");
  }
  return o;
}

bool same_result(const ListResult& a, const ListResult& b) {
  return a.status == b.status && a.item == b.item && a.token == b.token;
}

void compare(const Outcome& mem, const Outcome& fd, std::size_t packet) {
  const bool same = same_result(mem.first, fd.first) && mem.second_done == fd.second_done &&
                    (!mem.second_done || same_result(mem.second, fd.second)) &&
                    mem.data_name == fd.data_name && mem.answer == fd.answer &&
                    mem.result_name == fd.result_name && mem.bins == fd.bins &&
                    std::memcmp(&mem.probability, &fd.probability, sizeof(double)) == 0;
  if (same) return;
  fuzz::fail(
      "memory and descriptor readings differ (packets of %zu bytes):\n"
      "  memory:     %s item %d, name '%s' bins %d p %.17g answer '%s' result '%s'\n"
      "  descriptor: %s item %d, name '%s' bins %d p %.17g answer '%s' result '%s'",
      packet, status_name(mem.first.status), mem.first.item, fuzz::shown(mem.data_name).c_str(),
      mem.bins, mem.probability, fuzz::shown(mem.answer).c_str(),
      fuzz::shown(mem.result_name).c_str(), status_name(fd.first.status), fd.first.item,
      fuzz::shown(fd.data_name).c_str(), fd.bins, fd.probability, fuzz::shown(fd.answer).c_str(),
      fuzz::shown(fd.result_name).c_str());
}

// Sends `bytes` as packets: 32 packets of `packet` bytes, then the rest in
// pieces no larger than the reader's buffer (a longer packet would be cut).
void send_packets(int fd, std::string_view bytes, std::size_t packet) {
  std::size_t at = 0;
  for (int k = 0; at < bytes.size(); ++k) {
    const std::size_t n = std::min(k < 32 ? packet : ListInput::kBufferSize, bytes.size() - at);
    if (::send(fd, bytes.data() + at, n, 0) != static_cast<ssize_t>(n))
      fuzz::fail("send: %s", std::strerror(errno));
    at += n;
  }
  ::shutdown(fd, SHUT_WR);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  ListInput memory(bytes);
  const Outcome mem = read_both(memory);

  // The packet route holds the whole input in the socket's send buffer.
  if (size > 64 * 1024) return 0;
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) != 0)
    fuzz::fail("socketpair: %s", std::strerror(errno));
  const std::size_t packet = 1 + size % 61;
  send_packets(sv[1], bytes, packet);
  Outcome fd;
  {
    ListInput input(sv[0]);
    fd = read_both(input);
  }
  ::close(sv[0]);
  ::close(sv[1]);
  compare(mem, fd, packet);
  return 0;
}
