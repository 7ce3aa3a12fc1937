// SPDX-License-Identifier: GPL-3.0-or-later
// Runs a fuzz body over its seed corpus (the folder VARMIO_FUZZ_CORPUS) and over a fixed series of
// inputs mutated from it, so every build checks what the long fuzz runs check, on the inputs that found
// faults before.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::vector<std::string> Corpus()
{
    std::vector<std::string> inputs;
    for (const auto& entry : std::filesystem::directory_iterator(VARMIO_FUZZ_CORPUS)) {
        std::ifstream in(entry.path(), std::ios::binary);
        inputs.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return inputs;
}

int FuzzOne(const std::string& input)
{
    return LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
}

TEST(FuzzReplay, TheSeedCorpusPasses)
{
    const std::vector<std::string> corpus = Corpus();
    ASSERT_GE(corpus.size(), 4u);
    for (const std::string& input : corpus) EXPECT_EQ(FuzzOne(input), 0);
}

TEST(FuzzReplay, MutatedInputsPass)
{
    const std::vector<std::string> corpus = Corpus();
    ASSERT_FALSE(corpus.empty());
    std::mt19937 random(20240611); // fixed: the same inputs on every run
    constexpr int kInputs = 2000;
    for (int i = 0; i < kInputs; ++i) {
        std::string input = corpus[random() % corpus.size()];
        const int edits = 1 + static_cast<int>(random() % 8);
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = input.empty() ? 0 : random() % (input.size() + 1);
            const char byte = static_cast<char>(random() % 256);
            switch (random() % 4) {
            case 0: input.insert(at, 1, byte); break;
            case 1:
                if (at < input.size()) input.erase(at, 1 + random() % 4);
                break;
            case 2:
                if (at < input.size()) input[at] = byte;
                break;
            default: input.insert(at, std::to_string(static_cast<std::int64_t>(random()) * 4099)); break;
            }
        }
        ASSERT_EQ(FuzzOne(input), 0) << "input " << i;
    }
}

} // namespace
