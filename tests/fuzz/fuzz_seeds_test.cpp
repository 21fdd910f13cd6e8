// The GOST key fuzz target's checks over its committed seeds, in every build:
// each seed decodes, prints and encodes back as the target demands (a broken
// check aborts the test program).
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int *, char ***);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

TEST(GostKeysFuzzSeeds, EverySeedHoldsTheTargetsChecks)
{
    LLVMFuzzerInitialize(nullptr, nullptr);
    const std::filesystem::path dir = std::filesystem::path(TOKENCERT_SOURCE_DIR) / "tests/fuzz/corpus/keys";
    int seeds = 0;
    for (const auto &entry : std::filesystem::directory_iterator(dir)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        SCOPED_TRACE(entry.path().filename().string());
        testing::internal::CaptureStderr();  // refusals write their lines
        EXPECT_EQ(LLVMFuzzerTestOneInput(data.data(), data.size()), 0);
        testing::internal::GetCapturedStderr();
        ++seeds;
    }
    EXPECT_GE(seeds, 13);
}
