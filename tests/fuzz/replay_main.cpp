// Replays each file of the folders named without libFuzzer: the seeds and the inputs that once failed.
#include <algorithm>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv)
{
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i)
        for (const auto& e : std::filesystem::directory_iterator(argv[i]))
            if (e.is_regular_file() && e.path().filename().string()[0] != '.')
                files.push_back(e.path());
    std::sort(files.begin(), files.end());
    // Read before the first input runs: from then on the test helpers see the targets' memory store.
    std::vector<std::string> inputs;
    for (const auto& f : files)
        inputs.push_back(tabrescue::test::readText(f));
    for (const std::string& bytes : inputs)
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    return files.empty() ? 1 : 0;
}
