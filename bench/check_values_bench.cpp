// Throughput of the two check values that run over every byte of every
// file on both sides of the pipeline: the one-pass eight-bytes-per-step form
// beside the byte-at-a-time defining rule, on the same random buffer.
// usage: check_values_bench [MiB]   (default 256)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "pipeline/check_values.h"

namespace {

// Processing a 64 KiB chunk at a time, as the reader and writer threads do.
constexpr size_t kChunkBytes = 65536;

template <typename Body>
double mibPerSecond(size_t bytes, Body body) {
    const auto start = std::chrono::steady_clock::now();
    body();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return static_cast<double>(bytes) / (1024.0 * 1024.0) / took.count();
}

}  // namespace

int main(int argc, char** argv) {
    const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    std::vector<uint8_t> data(mib * 1024 * 1024);
    std::mt19937_64 rng(1);
    for (size_t i = 0; i + 8 <= data.size(); i += 8) {
        const uint64_t v = rng();
        for (int k = 0; k < 8; ++k) data[i + k] = static_cast<uint8_t>(v >> (8 * k));
    }

    uint32_t fastCrc = 0, fastPlusOne = 0;
    const double fast = mibPerSecond(data.size(), [&] {
        for (size_t i = 0; i < data.size(); i += kChunkBytes)
            qex::updateCheckValues(fastCrc, fastPlusOne, data.data() + i,
                                   std::min(kChunkBytes, data.size() - i));
    });
    uint32_t slowCrc = 0, slowPlusOne = 0;
    const double slow = mibPerSecond(data.size(), [&] {
        for (uint8_t b : data) {
            slowCrc = qex::crc32Step(slowCrc, b);
            slowPlusOne = qex::crc32Step(slowPlusOne, static_cast<uint8_t>(b + 1));
        }
    });
    std::printf("both check values over %zu MiB in 64 KiB chunks\n", mib);
    std::printf("  one pass, 8 bytes per step: %8.0f MiB/s\n", fast);
    std::printf("  byte at a time            : %8.0f MiB/s\n", slow);
    if (fastCrc != slowCrc || fastPlusOne != slowPlusOne) {
        std::printf("MISMATCH: %08X/%08X vs %08X/%08X\n", fastCrc, fastPlusOne, slowCrc, slowPlusOne);
        return 1;
    }
    return 0;
}
