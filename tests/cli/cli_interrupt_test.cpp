// The tool stopped from outside: SIGINT, SIGTERM and SIGHUP during a long
// conversion remove the job's private folder and temporary outputs and end
// with 128 + the signal's number; a write past the file-size limit fails
// cleanly instead of killing the tool.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/TestSupport.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Minutes of 8 kHz mono speech-like sound (a buzzing vowel that rises and
// falls, with pauses), big enough that a conversion runs for a while even on
// a fast machine.
std::vector<uint8_t> LongWav(int minutes) {
    const uint32_t rate = 8000, count = rate * 60u * static_cast<uint32_t>(minutes);
    std::vector<uint8_t> wav(44 + 2ull * count);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) wav[at + i] = uint8_t(v >> (8 * i));
    };
    auto put16 = [&](size_t at, uint16_t v) {
        wav[at] = uint8_t(v);
        wav[at + 1] = uint8_t(v >> 8);
    };
    std::memcpy(&wav[0], "RIFF", 4);
    put32(4, uint32_t(36 + 2ull * count));
    std::memcpy(&wav[8], "WAVEfmt ", 8);
    put32(16, 16);
    put16(20, 1);
    put16(22, 1);
    put32(24, rate);
    put32(28, rate * 2);
    put16(32, 2);
    put16(34, 16);
    std::memcpy(&wav[36], "data", 4);
    put32(40, 2 * count);
    double phase = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const double t = double(i) / rate;
        const double pitch = 120 + 40 * std::sin(2 * M_PI * 0.7 * t);
        phase += 2 * M_PI * pitch / rate;
        const bool pause = std::fmod(t, 3.0) > 2.4;
        const double v = pause ? 0 : 6000 * (std::sin(phase) + 0.5 * std::sin(3 * phase) + 0.3 * std::sin(7 * phase));
        put16(44 + 2ull * i, uint16_t(int16_t(std::lround(v))));
    }
    return wav;
}

struct Child {
    pid_t pid = -1;
};

// Starts the tool with TMPDIR set to tmp, its output going to log; fileLimit
// (bytes, 0: none) is set in the child before the tool starts.
Child Start(const std::vector<std::string>& args, const std::string& tmp, const std::string& log,
            rlim_t fileLimit = 0) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::string(*e).rfind("TMPDIR=", 0) != 0) env.push_back(*e);
    env.push_back("TMPDIR=" + tmp);
    std::vector<std::string> argv = {cz::test::BinDir() + "/cadenzor"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> argp, envp;
    for (auto& a : argv) argp.push_back(a.data());
    argp.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    Child child;
    child.pid = ::fork();
    if (child.pid == 0) {
        ::dup2(out, 1);
        ::dup2(out, 2);
        // The signals at their defaults, as from a terminal.
        for (int s : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ}) ::signal(s, SIG_DFL);
        if (fileLimit) {
            struct rlimit limit = {fileLimit, fileLimit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        ::execve(argp[0], argp.data(), envp.data());
        ::_exit(127);
    }
    ::close(out);
    return child;
}

// The exit status (as waitpid gives it), or -1 after the time allowed
// (the child is then killed).
int Wait(const Child& child, std::chrono::seconds allowed) {
    const auto until = Clock::now() + allowed;
    int status = 0;
    while (Clock::now() < until) {
        const pid_t done = ::waitpid(child.pid, &status, WNOHANG);
        if (done == child.pid) return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::kill(child.pid, SIGKILL);
    ::waitpid(child.pid, &status, 0);
    return -1;
}

// Everything below a folder, as paths relative to it, sorted.
std::vector<std::string> Tree(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(fs::relative(it->path(), folder, ec).generic_string());
    std::sort(names.begin(), names.end());
    return names;
}

bool Contains(const std::vector<std::string>& tree, const std::string& part) {
    for (const std::string& name : tree)
        if (name.find(part) != std::string::npos) return true;
    return false;
}

std::string Read(const std::string& path) {
    const auto bytes = cz::test::ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

class CliInterrupt : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        input_ = new cz::test::TempDir;
        ASSERT_TRUE(cz::test::WriteFileBytes(input_->File("long.wav"), LongWav(20)));
    }
    static void TearDownTestSuite() {
        delete input_;
        input_ = nullptr;
    }
    static cz::test::TempDir* input_;
    cz::test::TempDir dir_;
    std::string tmp_ = dir_.File("tmp"), out_ = dir_.File("out"), log_ = dir_.File("log.txt");
    void SetUp() override {
        fs::create_directory(tmp_);
        fs::create_directory(out_);
    }
};
cz::test::TempDir* CliInterrupt::input_ = nullptr;

// Each signal at a different point of the job: the tool ends with 128 + n
// and leaves nothing in the temporary folder or beside the outputs; an
// existing output it was to replace is untouched.
TEST_F(CliInterrupt, SignalsRemoveTheJobsWorkAndExitWith128PlusTheSignal) {
    struct Case {
        int sig;
        const char* when;
        bool (*ready)(const std::vector<std::string>& tmpTree);
    };
    const Case cases[] = {
        {SIGINT, "as soon as the private folder exists",
         [](const std::vector<std::string>& tree) { return !tree.empty(); }},
        {SIGTERM, "once a sound file is being made in it",
         [](const std::vector<std::string>& tree) {
             return Contains(tree, ".mdm") || Contains(tree, "resampled.wav");
         }},
        {SIGHUP, "while the resource binary is made beside the finished chip file",
         [](const std::vector<std::string>& tree) {
             return Contains(tree, "/out.mdm") && (Contains(tree, ".tmp") || Contains(tree, "/out.bin"));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(strsignal(c.sig)) + " " + c.when);
        fs::remove_all(out_);
        fs::create_directory(out_);
        fs::remove_all(tmp_);
        fs::create_directory(tmp_);
        const std::string mdm = out_ + "/out.mdm";
        ASSERT_TRUE(cz::test::WriteFileBytes(mdm, {'o', 'l', 'd'}));
        const Child child = Start(
            {"convert", "-y", input_->File("long.wav"), mdm, "--rate", "6000", "--bin", out_ + "/out.bin"}, tmp_, log_);
        ASSERT_GT(child.pid, 0);
        // Poll for the point (generous: the machine may be busy).
        const auto until = Clock::now() + std::chrono::seconds(120);
        bool ready = false, ended = false;
        int status = 0;
        while (!ready && !ended && Clock::now() < until) {
            ready = c.ready(Tree(tmp_));
            if (!ready) {
                ended = ::waitpid(child.pid, &status, WNOHANG) == child.pid;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        if (!ready) {
            if (!ended) {
                ::kill(child.pid, SIGKILL);
                ::waitpid(child.pid, &status, 0);
            }
            ADD_FAILURE() << "the point was not reached" << (ended ? " (the job ended first)" : "") << "\n"
                          << Read(log_);
            continue;
        }
        ASSERT_EQ(::kill(child.pid, c.sig), 0);
        status = Wait(child, std::chrono::seconds(60));
        ASSERT_NE(status, -1) << "did not end after the signal\n" << Read(log_);
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
        EXPECT_EQ(WEXITSTATUS(status), 128 + c.sig) << Read(log_);
        EXPECT_EQ(Tree(tmp_), std::vector<std::string>()) << "left in the temporary folder";
        EXPECT_EQ(Tree(out_), std::vector<std::string>{"out.mdm"}) << "left beside the outputs";
        EXPECT_EQ(Read(mdm), "old");
    }
}

// A write past the file-size limit: the tool is not killed (SIGXFSZ), the
// write fails, the tool says so and exits 2, and nothing is left.
TEST_F(CliInterrupt, FileSizeLimitFailsTheWriteCleanly) {
    const Child child = Start({"convert", input_->File("long.wav"), out_ + "/out.wav"}, tmp_, log_, 1u << 20);
    ASSERT_GT(child.pid, 0);
    const int status = Wait(child, std::chrono::seconds(120));
    ASSERT_NE(status, -1) << Read(log_);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 2) << Read(log_);
    EXPECT_NE(Read(log_).find("out.wav"), std::string::npos) << Read(log_);
    EXPECT_NE(Read(log_).find("File too large"), std::string::npos) << Read(log_);
    EXPECT_EQ(Tree(tmp_), std::vector<std::string>()) << "left in the temporary folder";
    EXPECT_EQ(Tree(out_), std::vector<std::string>()) << "left beside the output";
}

}  // namespace
