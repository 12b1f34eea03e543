#include "support/TestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace cz::test {

TempDir::TempDir() {
    std::random_device rd;
    std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate = base / ("cz_test_" + std::to_string(rd()) + std::to_string(attempt));
        std::error_code ec;
        if (std::filesystem::create_directory(candidate, ec)) {
            path_ = candidate.string();
            return;
        }
    }
    std::abort();
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

PrivateTmpDir::PrivateTmpDir() {
    if (const char* old = std::getenv("TMPDIR")) {
        hadOld_ = true;
        old_ = old;
    }
    setenv("TMPDIR", dir_.Path().c_str(), 1);
}

PrivateTmpDir::~PrivateTmpDir() {
    if (hadOld_)
        setenv("TMPDIR", old_.c_str(), 1);
    else
        unsetenv("TMPDIR");
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

bool FileExists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

int RunCommand(const std::string& command) {
    int status = std::system(command.c_str());
    if (status == -1) return -1;
#ifdef WEXITSTATUS
    return WEXITSTATUS(status);
#else
    return status;
#endif
}

bool HaveTool(const std::string& name) { return RunCommand("command -v " + name + " >/dev/null 2>&1") == 0; }

std::string TestDataDir() { return CZ_TESTDATA_DIR; }
std::string SourceDir() { return CZ_SOURCE_DIR; }
std::string BinDir() { return CZ_BIN_DIR; }
std::string LibDir() { return CZ_LIB_DIR; }

size_t CountEntries(const std::string& folder) {
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++n;
    return n;
}

std::string Soxi(const std::string& option, const std::string& path, const TempDir& scratch) {
    const std::string out = scratch.File("soxi.txt");
    if (RunCommand("soxi " + option + " '" + path + "' > '" + out + "' 2>/dev/null") != 0) return "";
    const auto bytes = ReadFileBytes(out);
    std::string s(bytes.begin(), bytes.end());
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    return s;
}

}  // namespace cz::test
