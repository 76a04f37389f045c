#include <gtest/gtest.h>

#include <string>

#include "recording_builder.hpp"
#include "zk/engine/recording.hpp"

namespace zk {
namespace {

using test::RecordingBuilder;

RecordingBuilder withTypes(const std::string& types) {
    RecordingBuilder b;
    for (std::size_t i = 0; i < types.size(); ++i) {
        b.add(static_cast<std::int32_t>(20 * i), 1000, -1, types[i]);
    }
    return b;
}

struct ValidationCase {
    const char* name;
    std::vector<unsigned char> bytes;
    bool valid;
};

TEST(VerifyZkdFormat, JudgesTheFirstFiveRecordTypes) {
    const ValidationCase cases[] = {
        {"five P", withTypes("PPPPP").bytes(), true},
        {"O, P and T", withTypes("OPTPO").bytes(), true},
        {"anything after the fifth", withTypes("PPPPPSxZ\0").bytes(), true},
        {"S among the first five", withTypes("PPSPP").bytes(), false},
        {"S as the fifth", withTypes("PPPPS").bytes(), false},
        {"lower-case p", withTypes("PPPpP").bytes(), false},
        {"unknown letter", withTypes("QPPPP").bytes(), false},
        {"zero type byte", withTypes(std::string("PP\0PP", 5)).bytes(), false},
        {"trailing partial record", withTypes("PPPPP").addBytes(7).bytes(), true},
        {"empty file", {}, false},
        {"19 bytes", RecordingBuilder().addBytes(19, 'P').bytes(), false},
        {"four records", withTypes("PPPP").bytes(), false},
        {"four records and 19 bytes", withTypes("PPPP").addBytes(19, 'P').bytes(), false},
    };
    for (const auto& c : cases) {
        MemorySource source(c.bytes);
        EXPECT_EQ(Verify_zkd_Format(source), c.valid) << c.name;
    }
}

TEST(VerifyZkdFormat, TimeStampsSamplesAndTagsPlayNoPart) {
    RecordingBuilder b;
    b.add(-5000, 0, 65535, 'T').add(INT32_MAX, 65535).add(0, 1, 3, 'O').add(-1, 2).add(7, 3);
    MemorySource source(b.bytes());
    EXPECT_TRUE(Verify_zkd_Format(source));
}

}  // namespace
}  // namespace zk
