// Fuzzes the stream decoder with arbitrary bytes: decoding must end (at the
// end symbol, when the input runs out, or at the output cap), stay within
// its arena and never write more than it was allowed.
//
// The first input byte picks the output cap (1 KiB to 4 MiB), so that both
// short runs and runs long enough to fill the model's arena get explored;
// the rest is the stream. Every run uses the format's own 128 MiB arena,
// which is mapped lazily and released after each input.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "coder/memory_codec.h"
#include "fuzz_check.h"

namespace {

// Output caps: 1 KiB << (0..12).
constexpr size_t kSmallestCap = 1024;
constexpr unsigned kCapSteps = 13;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t cap = kSmallestCap << (data[0] % kCapSteps);
    std::vector<uint8_t> stream(data + 1, data + size);
    std::vector<uint8_t> out;
    qex::CodecStats stats;
    QEX_FUZZ_CHECK(qex::decompressBuffer(stream.data(), stream.size(), out, &stats, qex::kArenaBytes, cap));
    QEX_FUZZ_CHECK(out.size() <= cap);
    QEX_FUZZ_CHECK(stats.streamBytes <= stream.size());
    return 0;
}
