// The block pipeline on one thread and on two: the same blocks emptied in
// the same order, each from the slot it was filled in, and the failure the
// serial loop would report, after the same blocks.
#include "pipeline.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <thread>
#include <vector>

namespace pixfold {
namespace {

struct Script {
    std::size_t blocks = 40;
    std::size_t fillFailsAt = 1000;  // this block's fill fails, after count items
    std::size_t emptyFailsAt = 1000; // emptying this block fails
};

struct Outcome {
    std::vector<std::size_t> emptied; // block numbers, in the order emptied
    Result result;
};

Outcome run(const Script& script, bool overlap) {
    std::size_t slotBlock[pipelineSlots] = {};
    std::size_t nextBlock = 0;
    Outcome outcome;
    auto fill = [&](std::size_t slot) {
        FilledBlock filled;
        const std::size_t block = nextBlock++;
        slotBlock[slot] = block;
        filled.count = block % 3 == 1 ? 0 : 1 + block % 4; // some blocks hold nothing
        if (block == script.fillFailsAt) {
            filled.result = failure(ErrorCode::truncatedInput, "fill");
        }
        filled.last = block + 1 == script.blocks;
        return filled;
    };
    auto empty = [&](std::size_t slot, std::size_t count) {
        const std::size_t block = slotBlock[slot];
        EXPECT_EQ(count, 1 + block % 4) << "block " << block;
        outcome.emptied.push_back(block);
        if (block == script.emptyFailsAt) {
            // Time for the other thread to fill the next block meanwhile.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return block == script.emptyFailsAt ? failure(ErrorCode::cantWriteOutput, "empty")
                                            : Result{};
    };
    outcome.result = runPipeline(overlap, fill, empty);
    return outcome;
}

std::vector<std::size_t> blocksWithItems(std::size_t end) {
    std::vector<std::size_t> blocks;
    for (std::size_t block = 0; block < end; ++block) {
        if (block % 3 != 1) {
            blocks.push_back(block);
        }
    }
    return blocks;
}

TEST(BlockPipeline, BothWaysEmptyTheSameBlocksAndReportTheFirstFailure) {
    Script whole;
    Script fillFails; // its items are emptied before its failure
    fillFails.fillFailsAt = 17;
    Script emptyFails; // and a later fill failure is never reported
    emptyFails.emptyFailsAt = 11;
    emptyFails.fillFailsAt = 14;
    struct Case {
        Script script;
        std::vector<std::size_t> emptied;
        ErrorCode error;
    };
    const Case cases[] = {{whole, blocksWithItems(40), ErrorCode::none},
                          {fillFails, blocksWithItems(18), ErrorCode::truncatedInput},
                          {emptyFails, blocksWithItems(12), ErrorCode::cantWriteOutput}};
#if defined(__i386__) && defined(PIXFOLD_TEST_EMULATOR)
    // qemu-i386 stalls threads that wait on each other (as it stalls FIFO
    // waits); the tools build the second thread only with PIXFOLD_OVERLAP.
    const bool threadsWork = false;
    std::printf("[   NOTE   ] one thread only: qemu-i386 stalls waiting threads\n");
#else
    const bool threadsWork = true;
#endif
    for (const Case& expected : cases) {
        for (const bool overlap : {false, threadsWork}) {
            // Many runs: the two threads interleave differently each time.
            for (int repeat = 0; repeat < (overlap ? 20 : 1); ++repeat) {
                const Outcome outcome = run(expected.script, overlap);
                ASSERT_EQ(outcome.emptied, expected.emptied) << "overlap " << overlap;
                ASSERT_EQ(outcome.result.code, expected.error) << "overlap " << overlap;
            }
        }
    }
}

} // namespace
} // namespace pixfold
