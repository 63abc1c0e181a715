// What a report needs to be signed: which program made it, when, from what
// command and options, and from which bytes of input (size and SHA-256).
#pragma once

#include <atomic>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace korvalinde::cli {

struct RunMeta {
  std::string version;  // "korvalinde 1.2.0 (abc1234)"
  std::string time;     // UTC, ISO 8601: "2026-12-10T14:10:45Z"
  std::string command;  // the command line, quoted for a POSIX shell
  std::vector<std::pair<std::string, std::string>> options;  // in force, given or default
  std::string units;    // --units; empty when not given
};

// One input as the run read it. A stream (standard input, a FIFO) has no
// size or digest; nor has a file that could not be read or that changed
// while it was hashed (`why` says which).
struct InputMeta {
  std::string file;
  std::optional<std::uint64_t> size;
  std::string sha256;  // hexadecimal; empty when unknown
  std::string why;
};

// The run's time: SOURCE_DATE_EPOCH (seconds since 1970, UTC) when it is
// set to a whole number, for reproducible outputs; else the clock's.
std::string run_time();

// Seconds since 1970 as "YYYY-MM-DDTHH:MM:SSZ".
std::string iso_time(std::int64_t seconds);

// The arguments as one line a POSIX shell reads back into them.
std::string shell_command(const std::vector<std::string>& args);

// Size and SHA-256 of the input `name` ("-" is standard input), read a
// piece at a time in a pass of its own: memory stays bounded. A set `stop`
// ends the pass early, leaving them unknown.
InputMeta describe_input(const std::string& name, const std::atomic<bool>* stop = nullptr);

// describe_input while the input is fitted: a large file is hashed on a
// thread of its own, which cancel() stops (an input that could not be read
// through needs no digest).
class InputDigest {
 public:
  explicit InputDigest(const std::string& name);
  ~InputDigest();
  InputDigest(const InputDigest&) = delete;
  InputDigest& operator=(const InputDigest&) = delete;
  void cancel() { stop_ = true; }
  // Waits for the digest.
  const InputMeta& get();

 private:
  std::atomic<bool> stop_{false};
  std::thread worker_;
  InputMeta meta_;
};

// The options of `app` in force, by their long names: each one given (its
// last value; a flag has none), and the defaults of the others that have
// one, unless `unused` says the option does not apply to the run.
std::vector<std::pair<std::string, std::string>> options_in_force(
    const CLI::App& app, const std::function<bool(const CLI::Option&)>& unused = {});

// {"version","time","command","options":{...},"units","input":{"file","size","sha256"}};
// without "input" when `input` is null.
nlohmann::ordered_json meta_json(const RunMeta& run, const InputMeta* input);

// The same with "inputs": [{"file","size","sha256"}, ...] for a run of several inputs.
nlohmann::ordered_json meta_json(const RunMeta& run, std::span<const InputMeta> inputs);

// The header block of the text report, each line ending with a newline.
std::string meta_text(const RunMeta& run);

// "input: 1234 bytes, SHA-256 ab12..." (or why neither is known).
std::string input_text(const InputMeta& input);

// One line "input FILE: 1234 bytes, SHA-256 ab12..." an input.
std::string inputs_text(std::span<const InputMeta> inputs);

// One short line for the foot of a picture.
std::string meta_footer(const RunMeta& run, const InputMeta* input);

}  // namespace korvalinde::cli
