// Replays fuzz inputs without libFuzzer, so that the ordinary and sanitizer builds run the seeds and
// the inputs that once failed: every file named on the command line, and every file in each folder
// named there.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv)
{
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i) {
        if (std::filesystem::is_regular_file(argv[i]))
            files.emplace_back(argv[i]);
        else if (std::filesystem::is_directory(argv[i]))
            for (const auto& e : std::filesystem::directory_iterator(argv[i]))
                if (e.is_regular_file() && e.path().filename().string().front() != '.')
                    files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    for (const auto& f : files) {
        std::ifstream in(f, std::ios::binary);
        const std::string bytes(std::istreambuf_iterator<char>(in), {});
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    std::printf("replayed %zu inputs\n", files.size());
    return files.empty() ? 1 : 0;
}
