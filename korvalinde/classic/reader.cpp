#include "korvalinde/classic/reader.hpp"

#include <unistd.h>

#include <cstring>

#include "korvalinde/classic/blocks.hpp"
#include "korvalinde/classic/diagnose.hpp"
#include "korvalinde/classic/sysfile.hpp"
#include "korvalinde/input/sample_reader.hpp"

namespace korvalinde {

double data0[kMaxSamples];

namespace {

char buffer[SampleReader::kBufferBytes];  // off the stack

}  // namespace

void ini_data(int& status, Message& message, int fd, std::string_view prefix,
              const std::string& name, int& count) {
  SampleReader reader(fd, buffer, {}, prefix);
  count = 0;
  for (;;) {
    double value = 0;
    const SampleReader::Next got = reader.next(value);
    if (got == SampleReader::Next::End) return;
    if (got != SampleReader::Next::Value) {
      if (got == SampleReader::Next::Error) {
        diagnose("korvalinde: can not read sample file %s: %s", name.c_str(),
                 std::strerror(reader.error()));
      }
      status = kReadingError;
      message.set(kReadingErrorText);
      return;
    }
    if (++count > kMaxSamples) {
      status = kTooManySamples;
      message.set(kTooManyText);
      return;
    }
    data0[count - 1] = value;
  }
}

void ini_data(int& status, Message& message, const std::string& name, int& count) {
  const int fd = open_existing(name);
  if (fd < 0) {
    status = kCannotOpen;
    message.set(kCannotOpenText);
    return;
  }
  ini_data(status, message, fd, {}, name, count);
  ::close(fd);
}

}  // namespace korvalinde
