#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "FuzzHarness.h"

// Every input in fuzz/corpus/<harness>/ and fuzz/findings/<harness>/ runs through
// its harness. A harness whose checks fail aborts: the test dies, and fails.
namespace moravel::fuzz {
namespace {

namespace fs = std::filesystem;

struct Input {
    std::string harness;
    fs::path path;
};

std::vector<Input> InputsIn(const std::string& folder) {
    std::vector<Input> inputs;
    const fs::path root = fs::path(MORAVEL_FUZZ_DIR) / folder;
    if (!fs::is_directory(root)) {
        return inputs;
    }
    for (const auto& harness : fs::directory_iterator(root)) {
        if (!harness.is_directory()) {
            continue;
        }
        for (const auto& file : fs::directory_iterator(harness.path())) {
            if (file.is_regular_file()) {
                inputs.push_back({harness.path().filename().string(), file.path()});
            }
        }
    }
    std::sort(inputs.begin(), inputs.end(),
              [](const Input& a, const Input& b) { return a.path < b.path; });
    return inputs;
}

FuzzFunction HarnessNamed(const std::string& name) {
    for (const NamedHarness& harness : kHarnesses) {
        if (harness.name == name) {
            return harness.function;
        }
    }
    return nullptr;
}

// The inputs are looked up when the test runs: one test per harness, whatever
// its folders hold. Each input's path is printed before it runs, so that the
// output of a test that dies names the input that killed it.
std::vector<std::string> HarnessNames() {
    std::vector<std::string> names;
    for (const NamedHarness& harness : kHarnesses) {
        names.emplace_back(harness.name);
    }
    return names;
}

class FuzzReplayTest : public ::testing::TestWithParam<std::string> {};

TEST_P(FuzzReplayTest, PassesItsHarnessChecksOnEveryInput) {
    const std::string& name = GetParam();
    const FuzzFunction harness = HarnessNamed(name);
    ASSERT_NE(harness, nullptr) << "no harness is called " << name;
    std::size_t replayed = 0;
    for (const char* folder : {"corpus", "findings"}) {
        for (const Input& input : InputsIn(folder)) {
            if (input.harness != name) {
                continue;
            }
            std::cout << "replaying " << input.path.string() << std::endl;
            std::ifstream in(input.path, std::ios::binary);
            ASSERT_TRUE(in) << input.path;
            const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                                  std::istreambuf_iterator<char>());
            EXPECT_EQ(harness(bytes.data(), bytes.size()), 0) << input.path;
            ++replayed;
        }
    }
    EXPECT_GT(replayed, 0u) << "no inputs for " << name;
}

INSTANTIATE_TEST_SUITE_P(Harness, FuzzReplayTest, ::testing::ValuesIn(HarnessNames()),
                         [](const ::testing::TestParamInfo<std::string>& param) {
                             return param.param;
                         });

// Every harness has inputs to start from: a corpus folder that went missing
// would otherwise leave its harness unreplayed without a word.
TEST(FuzzCorpusTest, EveryHarnessHasSeeds) {
    for (const NamedHarness& harness : kHarnesses) {
        const auto inputs = InputsIn("corpus");
        EXPECT_TRUE(std::any_of(inputs.begin(), inputs.end(), [&](const Input& i) {
            return i.harness == harness.name;
        })) << harness.name;
    }
}

// Every input folder belongs to a harness.
TEST(FuzzCorpusTest, EveryFolderNamesAHarness) {
    for (const char* folder : {"corpus", "findings"}) {
        for (const Input& input : InputsIn(folder)) {
            EXPECT_NE(HarnessNamed(input.harness), nullptr) << input.path;
        }
    }
}

}  // namespace
}  // namespace moravel::fuzz
