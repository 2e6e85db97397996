// The coder coroutine: codes passed across the switch, a body's stack that
// survives suspensions, and the guard page below the stack.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "pipeline/coder_coroutine.h"

namespace qex {
namespace {

struct Trace {
    CoroutineContext* context = nullptr;
    std::vector<int> steps;
};

// Suspends at every level of a recursion and checks on the way back that
// each frame's locals are what they were.
int descend(Trace& trace, int depth) {
    char frame[512];
    for (char& c : frame) c = static_cast<char>(depth);
    trace.steps.push_back(depth);
    switch_context(*trace.context, depth % 2 == 0 ? kNeedInput : kOutputFull);
    int sum = depth > 0 ? descend(trace, depth - 1) : 0;
    for (char c : frame) {
        if (c != static_cast<char>(depth)) return -1000000;
    }
    return sum + depth;
}

void recursiveBody(void* argument) {
    auto& trace = *static_cast<Trace*>(argument);
    trace.steps.push_back(descend(trace, 20));
}

TEST(CoderCoroutine, BodyRunsAcrossSuspensionsWithItsFramesIntact) {
    Trace trace;
    CoroutineContext context;
    trace.context = &context;
    const SystemStatus created = createCoroutine(context, &recursiveBody, &trace);
    ASSERT_TRUE(created.ok()) << systemReason(created.error);
    std::vector<uint32_t> codes;
    for (int i = 0; i < 100; ++i) {
        // Worker-side frames between resumes must not disturb the body.
        volatile char noise[4096];
        for (auto& c : noise) c = 0x55;
        const uint32_t code = resume_coder(context);
        codes.push_back(code);
        if (code == kFinished) break;
    }
    const uint32_t again = resume_coder(context);
    destroyCoroutine(context);
    ASSERT_EQ(codes.size(), 22u);  // 21 suspensions, then the end
    for (int i = 0; i < 21; ++i) EXPECT_EQ(codes[i], (20 - i) % 2 == 0 ? kNeedInput : kOutputFull);
    EXPECT_EQ(codes.back(), kFinished);
    ASSERT_EQ(trace.steps.size(), 22u);
    EXPECT_EQ(trace.steps.back(), 210);  // 0 + 1 + ... + 20, every frame intact
    EXPECT_TRUE(context.finished);
    EXPECT_EQ(again, kFinished);  // a finished body is never entered again
}

// A stack overflow runs into the page below the stack and faults instead of
// writing into whatever mapping lies there. Checked through Linux's /proc.
#ifndef _WIN32
void emptyBody(void*) {}

TEST(CoderCoroutine, StackHasAnInaccessiblePageRightBelowIt) {
    CoroutineContext context;
    const SystemStatus created = createCoroutine(context, &emptyBody, nullptr);
    ASSERT_TRUE(created.ok()) << systemReason(created.error);
    EXPECT_GE(context.stack.bytes, size_t{1} << 20);
    // The mapping that ends where the stack begins must allow no access.
    std::ifstream maps("/proc/self/maps");
    std::string line;
    bool guarded = false;
    const auto bottom = reinterpret_cast<uintptr_t>(context.stack.bottom);
    while (std::getline(maps, line)) {
        uintptr_t from = 0;
        uintptr_t to = 0;
        char perms[5] = {};
        if (std::sscanf(line.c_str(), "%lx-%lx %4s", &from, &to, perms) != 3) continue;
        if (to == bottom) guarded = std::string(perms) == "---p";
    }
    EXPECT_TRUE(guarded);
    destroyCoroutine(context);
}
#endif

}  // namespace
}  // namespace qex
