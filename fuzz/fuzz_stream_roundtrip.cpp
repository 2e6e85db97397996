// Fuzzes the coder as a pair: any bytes compressed and then decompressed
// come back unchanged, the decoder stops at the end symbol, and it reads no
// further than the stream the encoder wrote.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "coder/memory_codec.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> stream;
    QEX_FUZZ_CHECK(qex::compressBuffer(data, size, stream));
    std::vector<uint8_t> decoded;
    qex::CodecStats stats;
    QEX_FUZZ_CHECK(qex::decompressBuffer(stream.data(), stream.size(), decoded, &stats));
    QEX_FUZZ_CHECK(stats.sawEndSymbol);
    QEX_FUZZ_CHECK(stats.streamBytes <= stream.size());
    QEX_FUZZ_CHECK(decoded.size() == size);
    QEX_FUZZ_CHECK(size == 0 || std::equal(decoded.begin(), decoded.end(), data));
    return 0;
}
