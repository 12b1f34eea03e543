// Runs a fuzz target over every file of the folders given on the command
// line, so the seed corpus and the regression inputs run as ordinary tests.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

// Usage: fuzz_x FOLDER_OR_FILE... [--optional FOLDER...]. A folder that does
// not exist is passed over; those after --optional (seeds kept outside the
// repository, real files of other projects) are reported when absent, in a
// line scripts/test.sh lists among the skipped checks.
int main(int argc, char** argv) {
    size_t count = 0;
    bool optional = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--optional") {
            optional = true;
            continue;
        }
        std::error_code ec;
        std::filesystem::path root(argv[i]);
        if (!std::filesystem::exists(root, ec)) {
            if (optional) std::printf("SKIPPED: seed folder absent, not replayed: %s\n", argv[i]);
            continue;
        }
        std::vector<std::filesystem::path> files;
        if (std::filesystem::is_directory(root, ec)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(root, ec))
                if (entry.is_regular_file()) files.push_back(entry.path());
        } else {
            files.push_back(root);
        }
        for (const auto& file : files) {
            std::ifstream in(file, std::ios::binary);
            std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            ++count;
        }
    }
    std::printf("replayed %zu inputs\n", count);
    return 0;
}
