// Runs saved inputs through a fuzz target without the fuzzing engine, so that
// seed corpora and crash reproducers run as ordinary tests:
//   <target>_replay FILE|DIRECTORY...
// A directory contributes its files in name order (names starting with a
// dot are passed over). A violated property aborts the program.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool is_directory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool files_of(const std::string& dir, std::vector<std::string>& out) {
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return false;
  std::vector<std::string> names;
  while (dirent* e = ::readdir(d)) {
    if (e->d_name[0] != '.') names.emplace_back(e->d_name);
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  for (const std::string& n : names) {
    const std::string path = dir + "/" + n;
    if (!is_directory(path)) out.push_back(path);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> inputs;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (is_directory(arg)) {
      if (!files_of(arg, inputs)) {
        std::fprintf(stderr, "replay: cannot list %s\n", arg.c_str());
        return 2;
      }
    } else {
      inputs.push_back(arg);
    }
  }
  for (const std::string& path : inputs) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "replay: cannot read %s\n", path.c_str());
      return 2;
    }
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::fprintf(stderr, "replay: %s (%zu bytes)\n", path.c_str(), bytes.size());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("replay: %zu inputs passed\n", inputs.size());
  return 0;
}
