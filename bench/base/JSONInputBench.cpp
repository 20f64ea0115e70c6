// The depth-limited parse of outside JSON beside the library's plain parse of
// the same text: a command list of 270,000 items (about 10 MB), and the same
// list cut to 100,000, each the best of a few runs. Times are the parsing
// thread's processor time, which a busy machine does not inflate.

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include <nlohmann/json.hpp>

#include "base/JSONInput.h"

namespace {

constexpr int RUNS = 3;

// One show_list line of `count` items, as the parent sends it.
std::string commandList(int count) {
  nlohmann::json items = nlohmann::json::array();
  for (int i = 0; i < count; ++i) {
    const std::string n = std::to_string(i);
    items.push_back({{"trigger", "/" + n}, {"preview", "p" + n}});
  }
  return nlohmann::json{{"type", "show_list"}, {"items", std::move(items)}}.dump();
}

double threadMillis() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

template <typename Parse>
double bestMillis(Parse parse) {
  double best = 1e300;
  for (int run = 0; run < RUNS; ++run) {
    const double start = threadMillis();
    parse();
    best = std::min(best, threadMillis() - start);
  }
  return best;
}

}  // namespace

int main() try {
  for (const int count : {100'000, 270'000}) {
    const std::string line = commandList(count);
    const double limited = bestMillis([&] {
      const auto parsed = nolari::JSONInput::parse(line);
      if (!parsed || (*parsed)["items"].size() != static_cast<std::size_t>(count)) std::abort();
    });
    const double plain = bestMillis([&] {
      const auto parsed = nlohmann::json::parse(line);
      if (parsed["items"].size() != static_cast<std::size_t>(count)) std::abort();
    });
    std::printf("%d items (%.1f MB): depth-limited %.0f ms, plain %.0f ms, ratio %.2f\n", count,
                static_cast<double>(line.size()) / 1e6, limited, plain, limited / plain);
  }
  return 0;
} catch (const std::exception& failure) {
  std::fprintf(stderr, "bench: %s\n", failure.what());
  return 1;
}
