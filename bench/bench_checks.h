// Checks the benchmark makes besides timing: a CRC-32 to identify inputs and
// streams, and the comparison of a stream with the recorded golden stream of
// the same input (length, CRC-32, restart positions, and the first 64 KiB block
// of the stream that differs).
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace qexbench {

// Standard reflected CRC-32 (polynomial 0xEDB88320), as in the golden tables.
inline uint32_t crc32Update(uint32_t crc, const uint8_t* p, size_t n) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (size_t i = 0; i < n; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

inline uint32_t crc32(const uint8_t* p, size_t n) { return crc32Update(0, p, n); }

struct GoldenRow {
    std::string input;
    uint64_t inputBytes = 0;
    uint32_t inputCrc = 0;
    uint64_t streamBytes = 0;
    uint32_t streamCrc = 0;
    std::vector<uint64_t> restartAfter;  // input bytes after which the model restarted
};

// Finds the row of expected.tsv that describes an input of this size and
// CRC-32. Returns false when the input is not a golden input.
inline bool findGoldenRow(const std::string& goldenDir, uint64_t inputBytes, uint32_t inputCrc,
                          GoldenRow& row) {
    std::ifstream in(goldenDir + "/expected.tsv");
    std::string line;
    std::getline(in, line);  // column names
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string name, bytes, icrc, sbytes, scrc, sha, restarts;
        if (!(fields >> name >> bytes >> icrc >> sbytes >> scrc >> sha >> restarts)) continue;
        if (std::stoull(bytes) != inputBytes || std::stoul(icrc, nullptr, 16) != inputCrc) continue;
        row = GoldenRow{};
        row.input = name;
        row.inputBytes = inputBytes;
        row.inputCrc = inputCrc;
        row.streamBytes = std::stoull(sbytes);
        row.streamCrc = static_cast<uint32_t>(std::stoul(scrc, nullptr, 16));
        // Restart positions are listed comma-separated, "-" for none.
        std::istringstream list(restarts == "-" ? std::string() : restarts);
        for (std::string item; std::getline(list, item, ',');) row.restartAfter.push_back(std::stoull(item));
        return true;
    }
    return false;
}

// The first checkpoint (an offset into the stream, with the CRC-32 of the
// bytes before it) that the stream fails; 0 when all checkpoints hold.
inline uint64_t firstFailedCheckpoint(const std::string& goldenDir, const std::vector<uint8_t>& stream) {
    std::ifstream in(goldenDir + "/big.checkpoints.tsv");
    std::string line;
    std::getline(in, line);  // column names
    uint64_t done = 0;
    uint32_t crc = 0;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        uint64_t offset = 0;
        std::string want;
        if (!(fields >> offset >> want)) continue;
        if (offset > stream.size()) return offset;
        crc = crc32Update(crc, stream.data() + done, offset - done);
        done = offset;
        if (crc != std::stoul(want, nullptr, 16)) return offset;
    }
    return 0;
}

// Prints how `stream` compares with the golden stream of its input, if the
// input is a golden one. Returns false on a mismatch.
inline std::string joined(const std::vector<uint64_t>& list) {
    std::string s;
    for (uint64_t v : list) {
        if (!s.empty()) s += ',';
        s += std::to_string(v);
    }
    return s.empty() ? "-" : s;
}

inline bool checkAgainstGolden(const std::string& goldenDir, uint64_t inputBytes, uint32_t inputCrc,
                               const std::vector<uint8_t>& stream, const std::vector<uint64_t>& restartAfter) {
    GoldenRow row;
    if (!findGoldenRow(goldenDir, inputBytes, inputCrc, row)) return true;
    const uint32_t streamCrc = crc32(stream.data(), stream.size());
    const bool same =
        stream.size() == row.streamBytes && streamCrc == row.streamCrc && restartAfter == row.restartAfter;
    std::printf("  golden %s: stream %llu bytes crc32 %08x restarts after %s; expected %llu bytes crc32 %08x"
                " restarts after %s: %s\n",
                row.input.c_str(), static_cast<unsigned long long>(stream.size()), streamCrc,
                joined(restartAfter).c_str(), static_cast<unsigned long long>(row.streamBytes), row.streamCrc,
                joined(row.restartAfter).c_str(), same ? "identical" : "DIFFERENT");
    if (!same && row.input == "big.bin") {
        const uint64_t bad = firstFailedCheckpoint(goldenDir, stream);
        if (bad != 0)
            std::printf("  first differing checkpoint: the stream's bytes before offset %llu\n",
                        static_cast<unsigned long long>(bad));
    }
    return same;
}

}  // namespace qexbench
