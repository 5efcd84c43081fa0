// image-digest WIDTH HEIGHT COUNT
//
// Runs the generation cycle on a canvas of the given inner size that records instead of
// drawing, and prints one line for each of the first COUNT images of a pass:
//   INDEX KIND ORDER DRAWN SKIPPED MIN MAX SHA256
// SHA256 covers the image's points in drawing order (X outer, Y inner), 5 bytes a point:
// 0x01 and the colour as 4-byte little-endian two's complement when drawn, five 0x00 when not.
// Two builds or platforms whose lines agree compute the kernel identically.

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "stress/generation_cycle.h"
#include "tools/recording_window.h"
#include "tools/sha256.h"

namespace {

bool ParseCount(const char* text, long max, long& out) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < 0 || v > max) return false;
  out = v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  long width = 0, height = 0, count = 0;
  if (argc != 4 || !ParseCount(argv[1], 100000, width) || !ParseCount(argv[2], 100000, height) ||
      !ParseCount(argv[3], LONG_MAX / 2, count) || count < 1 ||
      (width + 1) * (height + 1) > 50'000'000) {
    std::fprintf(stderr,
                 "usage: image-digest WIDTH HEIGHT COUNT (sizes 0-100000, COUNT at least 1)\n");
    return 2;
  }
  const long columns = width + 1, rows = height + 1;
  std::vector<std::int32_t> colour(static_cast<std::size_t>(columns * rows));
  std::vector<bool> drawn(colour.size());
  std::vector<unsigned char> bytes(colour.size() * 5);
  long index = 0;

  kelvarion::RecordingWindow window;
  window.pctGen.width = static_cast<float>(width);
  window.pctGen.height = static_cast<float>(height);
  window.pctGen.onPlot = [&](float X, float Y, std::int32_t c) {
    const auto i = static_cast<std::size_t>(static_cast<long>(X) * rows + static_cast<long>(Y));
    colour[i] = c;
    drawn[i] = true;
  };
  window.lblType.onSet = [&](std::string_view) { drawn.assign(drawn.size(), false); };
  window.lblNum.onSet = [&](std::string_view) {
    if (index >= count) return;  // the column drawn after the stop request
    ++index;
    long nDrawn = 0;
    std::int32_t lo = INT32_MAX, hi = INT32_MIN;
    for (std::size_t i = 0; i < colour.size(); ++i) {
      unsigned char* p = &bytes[i * 5];
      const auto u = static_cast<std::uint32_t>(colour[i]);
      p[0] = drawn[i] ? 1 : 0;
      for (int b = 0; b < 4; ++b)
        p[1 + b] = drawn[i] ? static_cast<unsigned char>(u >> (8 * b)) : 0;
      if (drawn[i]) {
        ++nDrawn;
        lo = std::min(lo, colour[i]);
        hi = std::max(hi, colour[i]);
      }
    }
    kelvarion::Sha256 sha;
    sha.Add(bytes.data(), bytes.size());
    const std::string hex = sha.Hex();
    const long order = 2 + ((index - 1) % 237) / 3;
    if (nDrawn > 0)
      std::printf("%ld %s %ld %ld %ld %ld %ld %s\n", index, window.lblType.caption.c_str(), order,
                  nDrawn, static_cast<long>(colour.size()) - nDrawn, static_cast<long>(lo),
                  static_cast<long>(hi), hex.c_str());
    else
      std::printf("%ld %s %ld 0 %ld - - %s\n", index, window.lblType.caption.c_str(), order,
                  static_cast<long>(colour.size()), hex.c_str());
    if (index == count) window.StopFlag = -1;
  };
  kelvarion::GenerationCycle(window);
  return 0;
}
