// Signatures verified while the dump is read (the pipeline, on one and on
// several threads) against the same dump verified only after the reading:
// every event must get the same verdict, and the tallies must agree.
#include "openpgp_packets.h"
#include "verify_pipeline.h"
#include "verify_pipeline_test_dump.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

void read_dump(openpgp_collection& c, const std::vector<uint8_t>& dump) {
    packet_stream stream;
    stream.on_packet = [&c](unsigned tag, std::span<const uint8_t> body, uint64_t offset) {
        take_openpgp_packet(c, tag, body, offset);
    };
    stream.on_error = [&c](uint64_t, const std::string&, framing_problem problem) {
        if (ends_key_block(problem)) end_openpgp_block(c);
    };
    feed_packets(stream, dump.data(), dump.size());
    finish_packets(stream);
    end_openpgp_block(c);
}

TEST(VerifyPipeline, SameVerdictsAsVerifyingAfterTheReading) {
    const std::vector<uint8_t> dump = mixed_signer_dump();
    for (const bool names : {false, true}) {
        openpgp_collection after;
        after.keep_self_signatures = names;
        read_dump(after, dump);
        verify_signatures(after, 2, nullptr);
        for (const unsigned threads : {1u, 3u}) {
            openpgp_collection c;
            c.keep_self_signatures = names;
            verify_pipeline pipeline;
            start_verify_pipeline(pipeline, c, threads);
            c.pipeline = &pipeline;
            read_dump(c, dump);
            finish_verify_pipeline(pipeline, c.counts);
            c.pipeline = nullptr;
            uint64_t left = 0;
            for (size_t i = 0; i < c.events.size(); ++i)
                left += c.events[i].result == verdict::pending;
            // The signers after their keys' certifications were kept.
            EXPECT_GT(left, 0u);
            EXPECT_LT(left, c.events.size() / 2);
            verify_signatures(c, threads, nullptr);
            const std::string at = "threads " + std::to_string(threads) + ", names " +
                                   std::to_string(static_cast<int>(names));
            ASSERT_EQ(c.events.size(), after.events.size()) << at;
            for (size_t i = 0; i < c.events.size(); ++i)
                ASSERT_EQ(c.events[i].result, after.events[i].result) << at << ", event " << i;
            for (size_t v = 0; v < static_cast<size_t>(verdict::count_); ++v)
                EXPECT_EQ(c.counts.verdicts[v], after.counts.verdicts[v])
                    << at << ", " << verdict_name(static_cast<verdict>(v));
        }
        // Every kind of verdict the dump holds came up.
        EXPECT_GT(after.counts.verdicts[static_cast<size_t>(verdict::valid)], 300u);
        EXPECT_GT(after.counts.verdicts[static_cast<size_t>(verdict::bad_signature)], 50u);
        EXPECT_GT(after.counts.verdicts[static_cast<size_t>(verdict::predates_signer)], 50u);
    }
}

} // namespace
