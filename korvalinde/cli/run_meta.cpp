#include "korvalinde/cli/run_meta.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <system_error>
#include <vector>

#include "korvalinde/cli/text.hpp"
#include "korvalinde/detail/civil.hpp"
#include "korvalinde/detail/sha256.hpp"
#include "korvalinde/detail/utf8.hpp"
#include "korvalinde/input/file_bytes.hpp"

namespace korvalinde::cli {

std::string iso_time(std::int64_t seconds) {
  const std::int64_t days = detail::day_of(seconds);
  const std::int64_t rest = seconds - days * detail::kSecondsPerDay;
  const detail::CivilDate c = detail::civil_from_days(days);
  char out[96];
  std::snprintf(out, sizeof out, "%04lld-%02d-%02dT%02lld:%02lld:%02lldZ",
                static_cast<long long>(c.year), c.month, c.day,
                static_cast<long long>(rest / 3600), static_cast<long long>(rest / 60 % 60),
                static_cast<long long>(rest % 60));
  return out;
}

std::string run_time() {
  if (const char* fixed = std::getenv("SOURCE_DATE_EPOCH"); fixed != nullptr && *fixed != '\0') {
    std::int64_t seconds = 0;
    const char* end = fixed + std::strlen(fixed);
    const auto [p, ec] = std::from_chars(fixed, end, seconds);
    if (ec == std::errc{} && p == end && seconds >= 0 && seconds < std::int64_t{253402300800})
      return iso_time(seconds);
  }
  return iso_time(static_cast<std::int64_t>(std::time(nullptr)));
}

std::string shell_command(const std::vector<std::string>& args) {
  std::string out;
  for (const std::string& a : args) {
    if (!out.empty()) out += ' ';
    const bool plain = !a.empty() && a.find_first_not_of("abcdefghijklmnopqrstuvwxyz"
                                                         "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                         "0123456789-_.,/:=+@%") == std::string::npos;
    if (plain) {
      out += a;
      continue;
    }
    out += '\'';
    for (const char c : a) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    out += '\'';
  }
  return out;
}

InputMeta describe_input(const std::string& name, const std::atomic<bool>* stop) {
  InputMeta m;
  m.file = name;
  if (name == "-") {
    m.why = "standard input";
    return m;
  }
  const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    m.why = std::strerror(errno);
    return m;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    m.why = "not a regular file";
    ::close(fd);
    return m;
  }
  const FileStamp before = stamp_of(st);
  detail::Sha256 hash;
  std::vector<char> piece(std::size_t{1} << 16);
  std::uint64_t size = 0;
  for (;;) {
    const ssize_t n = ::pread(fd, piece.data(), piece.size(), static_cast<off_t>(size));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      m.why = std::strerror(errno);
      ::close(fd);
      return m;
    }
    if (n == 0) break;
    if (stop != nullptr && *stop) {
      m.why = "not read through";
      ::close(fd);
      return m;
    }
    hash.update(piece.data(), static_cast<std::size_t>(n));
    size += static_cast<std::uint64_t>(n);
  }
  const bool same = unchanged(fd, before) && static_cast<off_t>(size) == before.size;
  ::close(fd);
  if (!same) {
    m.why = "changed while it was read";
    return m;
  }
  m.size = size;
  m.sha256 = hash.hex();
  return m;
}

// Files up to this size are hashed at once, on the caller's thread.
constexpr off_t kHashAtOnce = off_t{1} << 20;

InputDigest::InputDigest(const std::string& name) {
  struct stat st;
  if (name != "-" && ::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > kHashAtOnce) {
    try {
      worker_ = std::thread([this, name] { meta_ = describe_input(name, &stop_); });
      return;
    } catch (const std::system_error&) {
      // no thread to spare: hashed here
    }
  }
  meta_ = describe_input(name);
}

InputDigest::~InputDigest() {
  cancel();
  if (worker_.joinable()) worker_.join();
}

const InputMeta& InputDigest::get() {
  if (worker_.joinable()) worker_.join();
  return meta_;
}

std::vector<std::pair<std::string, std::string>> options_in_force(
    const CLI::App& app, const std::function<bool(const CLI::Option&)>& unused) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const CLI::Option* o : app.get_options()) {
    if (o->get_positional() || o->get_lnames().empty() || o->get_name() == "--help") continue;
    std::string value;
    if (o->count() > 0) {
      if (o->get_expected_max() > 0 && !o->results().empty()) value = o->results().back();
    } else if (o->get_default_str().empty() || (unused && unused(*o))) {
      continue;
    } else {
      value = o->get_default_str();
    }
    out.emplace_back(o->get_name(), value);
  }
  return out;
}

namespace {

nlohmann::ordered_json input_json(const InputMeta& input) {
  using Json = nlohmann::ordered_json;
  Json in{{"file", detail::escape_bytes(input.file, false)}};
  in["size"] = input.size ? Json(*input.size) : Json(nullptr);
  in["sha256"] = input.sha256.empty() ? Json(nullptr) : Json(input.sha256);
  if (!input.why.empty()) in["unknown"] = input.why;
  return in;
}

}  // namespace

nlohmann::ordered_json meta_json(const RunMeta& run, std::span<const InputMeta> inputs) {
  nlohmann::ordered_json j = meta_json(run, nullptr), list = nlohmann::ordered_json::array();
  for (const InputMeta& in : inputs) list.push_back(input_json(in));
  j["inputs"] = std::move(list);
  return j;
}

std::string inputs_text(std::span<const InputMeta> inputs) {
  std::string out;
  for (const InputMeta& in : inputs) {
    const std::string line = input_text(in);  // "input: ..."
    append(out, "input ", printable(in.file), line.substr(5), "\n");
  }
  return out;
}

nlohmann::ordered_json meta_json(const RunMeta& run, const InputMeta* input) {
  using Json = nlohmann::ordered_json;
  Json options = Json::object();
  for (const auto& [name, value] : run.options) options[name] = value;
  Json j{{"version", run.version}, {"time", run.time}, {"command", run.command},
         {"options", std::move(options)}};
  j["units"] = run.units.empty() ? Json(nullptr) : Json(run.units);
  if (input != nullptr) j["input"] = input_json(*input);
  return j;
}

std::string meta_text(const RunMeta& run) {
  std::string opts;
  for (const auto& [name, value] : run.options)
    append(opts, opts.empty() ? "" : " ", name, value.empty() ? "" : " ", value);
  return concat("run: ", printable(run.version), ", ", run.time, "\ncommand: ",
                printable(run.command), "\noptions: ", printable(opts), "\nunits: ",
                run.units.empty() ? std::string("not given (--units)") : printable(run.units),
                "\n");
}

std::string input_text(const InputMeta& input) {
  if (!input.size) return concat("input: size and SHA-256 unknown (", input.why, ")");
  return concat("input: ", std::to_string(*input.size), " bytes, SHA-256 ", input.sha256);
}

std::string meta_footer(const RunMeta& run, const InputMeta* input) {
  std::string out = concat(run.version, ", ", run.time);
  if (input != nullptr && input->size)
    append(out, "; ", std::to_string(*input->size), " bytes, SHA-256 ", input->sha256.substr(0, 16), "...");
  if (!run.units.empty()) append(out, "; units ", run.units);
  return out;
}

}  // namespace korvalinde::cli
