// The XMF-reading exports drive the format helper library: which entries run
// for which resource type, in which order, what a missing entry or library
// gives, and what is deleted when the for-play chain fails. Each case runs a
// copy of the library in a folder of its own, beside a logging helper built
// for these tests, in a child process. The closed loop WAV -> XMF -> WAV runs
// through the real helper stand-in.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "cadenzor/cadenzor.h"
#include "support/RiffBuilder.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

int InChild(const std::function<int()>& body) {
    pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

std::string Text(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

using TypeFn = int32_t (*)(const char*);
using TwoFn = int32_t (*)(const char*, const char*);
using ThreeFn = int32_t (*)(const char*, const char*, const char*);
using FiveFn = int32_t (*)(const char*, const char*, const char*, const char*, const char*);

class XmfReadingExports : public ::testing::Test {
protected:
    // A copy of the library in a folder of its own, with the helper variant
    // given ("" for none) as its format helper.
    std::string Library(const std::string& variant) {
        const std::string folder = dir_.File("lib_" + (variant.empty() ? std::string("none") : variant));
        if (!fs::exists(folder)) {
            fs::create_directories(folder);
            fs::copy_file(cz::test::LibDir() + "/libcadenzor.so", folder + "/libcadenzor.so");
            if (!variant.empty())
                fs::copy_file(cz::test::LibDir() + "/libfake_kelvra_" + variant + ".so", folder + "/libKelvra.so");
        }
        return folder + "/libcadenzor.so";
    }
    // Runs one export of the library copy in a child with the helper's
    // results set; the export's result is the child's exit status (+1, so
    // -1 is 0).
    int Run(const std::string& variant, const std::vector<std::pair<std::string, std::string>>& env,
            const std::function<int(void*)>& call) {
        const std::string lib = Library(variant);
        fs::remove(log_);
        return InChild([&] {
                   setenv("FAKE_KELVRA_LOG", log_.c_str(), 1);
                   for (const auto& [k, v] : env) setenv(("FAKE_KELVRA_" + k).c_str(), v.c_str(), 1);
                   void* handle = dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
                   if (!handle) return 97;
                   return call(handle) + 1;
               }) -
               1;
    }
    std::string Calls() {
        std::string names;
        std::istringstream lines(Text(log_));
        for (std::string line; std::getline(lines, line);) names += line.substr(0, line.find(' ')) + ";";
        return names;
    }
    static void* Fn(void* h, const char* name) { return dlsym(h, name); }

    cz::test::TempDir dir_;
    cz::test::PrivateTmpDir scratch_;
    std::string log_ = dir_.File("calls.log");
    std::string xmf_ = dir_.File("in.xmf"), mid_ = dir_.File("o.mid"), dls_ = dir_.File("o.dls");
    std::string playMid_ = dir_.File("p.mid"), playDls_ = dir_.File("p.dls"), wav_ = dir_.File("o.wav");
};

TEST_F(XmfReadingExports, TypeRulesOfConvertXmfToMid) {
    cz::test::WriteFileBytes(xmf_, {'x'});
    for (int type : {-1, 0, 1, 2, 3, 4, 5, 6, 7, 8}) {
        const bool runs = type == 1 || type == 2 || type == 3 || type == 4 || type == 6 || type == 7;
        fs::remove(mid_);
        const int r = Run("full", {{"TYPE", std::to_string(type)}, {"ConvertToSMF", "5"}}, [&](void* h) {
            return reinterpret_cast<TwoFn>(Fn(h, "ConvertXMFToMID"))(xmf_.c_str(), mid_.c_str());
        });
        // The helper's result is passed through.
        EXPECT_EQ(r, runs ? 5 : 0) << type;
        EXPECT_EQ(Calls(), runs ? "GetXMFResourceType;ConvertToSMF;" : "GetXMFResourceType;") << type;
        EXPECT_EQ(fs::exists(mid_), runs) << type;
    }
    // Only type 7 splits into MIDI and DLS.
    for (int type : {6, 7}) {
        const int r = Run("full", {{"TYPE", std::to_string(type)}}, [&](void* h) {
            return reinterpret_cast<ThreeFn>(Fn(h, "ConvertXMFToMIDAndDLS"))(xmf_.c_str(), mid_.c_str(), dls_.c_str());
        });
        EXPECT_EQ(r, type == 7 ? 1 : 0);
        EXPECT_EQ(Calls(), type == 7 ? "GetXMFResourceType;ConvertToSMFWithDLS;" : "GetXMFResourceType;");
    }
}

TEST_F(XmfReadingExports, MissingLibraryOrEntries) {
    cz::test::WriteFileBytes(xmf_, {'x'});
    auto type = [&](void* h) { return reinterpret_cast<TypeFn>(Fn(h, "GetXMFResourceType"))(xmf_.c_str()); };
    auto toMid = [&](void* h) { return reinterpret_cast<TwoFn>(Fn(h, "ConvertXMFToMID"))(xmf_.c_str(), mid_.c_str()); };
    auto toMidDls = [&](void* h) {
        return reinterpret_cast<ThreeFn>(Fn(h, "ConvertXMFToMIDAndDLS"))(xmf_.c_str(), mid_.c_str(), dls_.c_str());
    };
    EXPECT_EQ(Run("", {}, type), -1);
    EXPECT_EQ(Run("", {}, toMid), 0);
    EXPECT_EQ(Run("GetXMFResourceType", {}, type), -1);
    EXPECT_EQ(Run("GetXMFResourceType", {}, toMid), 0);
    EXPECT_EQ(Calls(), "");
    EXPECT_EQ(Run("full", {{"TYPE", "6"}}, type), 6);
    // A helper without the conversion entry has written nothing: that is a
    // failure, not success.
    EXPECT_EQ(Run("ConvertToSMF", {}, toMid), 0);
    EXPECT_EQ(Run("ConvertToSMFWithDLS", {}, toMidDls), 0);
    EXPECT_FALSE(fs::exists(mid_));
    EXPECT_FALSE(fs::exists(dls_));
}

TEST_F(XmfReadingExports, ForPlayStepsAndCleanUp) {
    cz::test::WriteFileBytes(xmf_, {'x'});
    struct Case {
        const char* name;
        std::string variant;
        std::vector<std::pair<std::string, std::string>> env;
        int result;
        const char* calls;
    } cases[] = {
        {"all succeed", "full", {}, 1, "GetXMFResourceType;ConvertToSMFWithDLS;InsertBankEvent;FixedDls;"},
        {"FixedDls gives 2",
         "full",
         {{"FixedDls", "2"}},
         2,
         "GetXMFResourceType;ConvertToSMFWithDLS;InsertBankEvent;FixedDls;"},
        {"split fails", "full", {{"ConvertToSMFWithDLS", "0"}}, 0, "GetXMFResourceType;ConvertToSMFWithDLS;"},
        {"bank events fail",
         "full",
         {{"InsertBankEvent", "0"}},
         0,
         "GetXMFResourceType;ConvertToSMFWithDLS;InsertBankEvent;"},
        {"no split entry", "ConvertToSMFWithDLS", {}, 1, "GetXMFResourceType;InsertBankEvent;FixedDls;"},
        {"type 6", "full", {{"TYPE", "6"}}, 0, "GetXMFResourceType;"},
    };
    for (const auto& c : cases) {
        // Files of those names already there: deleted on failure, as the
        // helper may have replaced them.
        for (const auto& p : {mid_, dls_, playMid_, playDls_}) cz::test::WriteFileBytes(p, {'o'});
        const int r = Run(c.variant, c.env, [&](void* h) {
            return reinterpret_cast<FiveFn>(Fn(h, "ConvertXMFToMIDAndDLSForPlay"))(
                xmf_.c_str(), mid_.c_str(), dls_.c_str(), playMid_.c_str(), playDls_.c_str());
        });
        EXPECT_EQ(r, c.result) << c.name;
        EXPECT_EQ(Calls(), c.calls) << c.name;
        const bool kept = r == 1 || std::string(c.name) == "type 6";  // a wrong type touches no file
        for (const auto& p : {mid_, dls_, playMid_, playDls_}) EXPECT_EQ(fs::exists(p), kept) << c.name << " " << p;
    }
    // Outputs that name the same file, or the XMF, are refused before any call.
    const int r = Run("full", {}, [&](void* h) {
        return reinterpret_cast<FiveFn>(Fn(h, "ConvertXMFToMIDAndDLSForPlay"))(xmf_.c_str(), mid_.c_str(), xmf_.c_str(),
                                                                               playMid_.c_str(), playDls_.c_str());
    });
    EXPECT_EQ(r, 0);
    EXPECT_EQ(Calls(), "");
    EXPECT_TRUE(fs::exists(xmf_));
}

TEST_F(XmfReadingExports, WavOnlyForSpeechAndNothingLeftBehind) {
    cz::test::WriteFileBytes(xmf_, {'x'});
    auto toWav = [&](void* h) { return reinterpret_cast<TwoFn>(Fn(h, "ConvertXMFToWAV"))(xmf_.c_str(), wav_.c_str()); };
    EXPECT_EQ(Run("full", {{"TYPE", "7"}}, toWav), 0);
    EXPECT_EQ(Calls(), "GetXMFResourceType;");
    EXPECT_EQ(Run("full", {{"TYPE", "5"}, {"ConvertToRBF", "0"}}, toWav), 0);
    EXPECT_EQ(Calls(), "GetXMFResourceType;ConvertToRBF;");
    // A resource that is not RBF: rendering fails, the temporary file goes.
    EXPECT_EQ(Run("full", {{"TYPE", "5"}}, toWav), 0);
    EXPECT_FALSE(fs::exists(wav_));
    EXPECT_EQ(cz::test::CountEntries(scratch_.Path()), 0u);
}

// Crafted XMF trees of in-file node references, built here: a pool of nodes
// from byte 22 on and the root after it. Nodes use 4-byte VLQ lengths, so a
// reference node is 19 bytes long.
using Bytes = std::vector<uint8_t>;
Bytes Vlq4(uint32_t v) {
    return {static_cast<uint8_t>(0x80 | ((v >> 21) & 0x7F)), static_cast<uint8_t>(0x80 | ((v >> 14) & 0x7F)),
            static_cast<uint8_t>(0x80 | ((v >> 7) & 0x7F)), static_cast<uint8_t>(v & 0x7F)};
}
void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }
// A file node without metadata or unpackers, then its content.
Bytes XmfNode(const Bytes& content) {
    Bytes out = Vlq4(14 + static_cast<uint32_t>(content.size()));
    out.push_back(0x00);
    Append(out, Vlq4(14));
    Append(out, Vlq4(0));
    out.push_back(0x01);
    Append(out, content);
    return out;
}
Bytes Cat2(const Bytes& a, const Bytes& b) {
    Bytes out = a;
    Append(out, b);
    return out;
}
Bytes RefTo(uint32_t offset) {
    Bytes content{0x03};
    Append(content, Vlq4(offset));
    return XmfNode(content);
}
constexpr uint32_t kPoolAt = 22, kRefSize = 19;
// A file node whose resource is found at its own offset: the rest of the file.
Bytes WholeFileNode() {
    Bytes content{0x02};
    Append(content, Vlq4(kPoolAt));
    return XmfNode(content);
}
Bytes SmfLeaf() {
    const Bytes content{0x01, 'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0,    0,    1, 0,
                        96,   'M', 'T', 'r', 'k', 0, 0, 0, 4, 0, 0xFF, 0x2F, 0};
    return XmfNode(content);
}
// A folder of `count` in-line children, each a reference to `target`.
Bytes FanOut(uint32_t count, uint32_t target) {
    Bytes children;
    for (uint32_t i = 0; i < count; ++i) Append(children, RefTo(target));
    const Bytes items = Vlq4(count);  // an item count of 4 bytes too
    const uint32_t header = 4 + 4 + 4 + 4 + 1;
    Bytes out = Vlq4(header + 1 + static_cast<uint32_t>(children.size()));
    Append(out, items);
    Append(out, Vlq4(header));
    Append(out, Vlq4(0));
    out.push_back(0x01);  // no unpackers
    out.push_back(0x01);  // children in line
    Append(out, children);
    return out;
}
// `links` reference nodes from byte 22 on, each to the next, the last to an
// SMF file node.
Bytes Chain(uint32_t links) {
    Bytes pool;
    for (uint32_t i = 0; i < links; ++i) Append(pool, RefTo(kPoolAt + (i + 1) * kRefSize));
    Append(pool, SmfLeaf());
    return pool;
}
Bytes XmfAround(const Bytes& pool, const Bytes& root) {
    const uint32_t size = kPoolAt + static_cast<uint32_t>(pool.size() + root.size());
    Bytes out{'X', 'M', 'F', '_', '1', '.', '0', '0'};
    Append(out, Vlq4(size));
    out.push_back(0x02);
    out.push_back(0x00);
    Append(out, Vlq4(kPoolAt + static_cast<uint32_t>(pool.size())));
    Append(out, Vlq4(size));
    Append(out, pool);
    Append(out, root);
    return out;
}

// Each crafted tree is refused or read quickly through the type query and
// an export, in a child so that a crash shows as a failure. A chain of
// 50,000 references once overflowed the stack, and 4,000 references to the
// head of a 15,000-link chain took 18 s and 465 MB.
TEST_F(XmfReadingExports, CraftedReferenceTreesAreReadOrRefusedQuickly) {
    const uint32_t past = 0x0FFFFFFF;
    struct Case {
        const char* name;
        Bytes xmf;
        int type;  // -2: either refused or read
    } cases[] = {
        {"chain of 50,000 references", XmfAround(Chain(50000), RefTo(kPoolAt)), 0},
        {"4,000 references to a 15,000-link chain", XmfAround(Chain(15000), FanOut(4000, kPoolAt)), 0},
        {"100 references to a 1,000-link chain", XmfAround(Chain(1000), FanOut(100, kPoolAt)), 6},
        {"self reference", XmfAround({}, RefTo(kPoolAt)), 0},
        {"mutual reference", XmfAround(Cat2(RefTo(kPoolAt + kRefSize), RefTo(kPoolAt)), RefTo(kPoolAt)), 0},
        {"reference into the middle of a node", XmfAround(SmfLeaf(), RefTo(kPoolAt + 5)), -2},
        {"reference into the middle of a chain", XmfAround(Chain(10), FanOut(2, kPoolAt + 4 * kRefSize + 7)), -2},
        {"4,000 references to a node holding the rest of the file", XmfAround(WholeFileNode(), FanOut(4000, kPoolAt)),
         0},
        {"reference past the end", XmfAround({}, RefTo(past)), 0},
        {"folder of references past the end", XmfAround({}, FanOut(3, past)), 0},
    };
    for (const auto& c : cases) {
        cz::test::WriteFileBytes(xmf_, c.xmf);
        fs::remove(mid_);
        const pid_t pid = fork();
        if (pid == 0) {
            const int type = GetXMFResourceType(xmf_.c_str());
            const int mid = ConvertXMFToMID(xmf_.c_str(), mid_.c_str());
            _exit(type == 6 && mid == 1 ? 6 : type == 0 && mid == 0 ? 0 : 99);
        }
        int status = 0;
        rusage usage{};
        ASSERT_EQ(wait4(pid, &status, 0, &usage), pid);
        if (!WIFEXITED(status)) {
            ADD_FAILURE() << c.name << ": signal " << WTERMSIG(status);
            continue;
        }
        const int got = WEXITSTATUS(status);
        if (c.type == -2)
            EXPECT_TRUE(got == 0 || got == 6) << c.name << ": " << got;
        else
            EXPECT_EQ(got, c.type) << c.name;
        EXPECT_EQ(fs::exists(mid_), got == 6) << c.name;
        const double cpu =
            usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        // Well under a second in a release build; room for the sanitizer build.
        EXPECT_LT(cpu, 1.0) << c.name;
        EXPECT_LT(usage.ru_maxrss, 400L * 1024) << c.name << " (KiB)";
    }
}

// WAV -> XMF -> WAV through the real helper: the sound the chip plays, the
// same as the resource binary decodes to.
TEST_F(XmfReadingExports, WavThroughXmfGivesTheDecodedResource) {
    std::vector<uint8_t> pcm;
    for (int i = 0; i < 3000; ++i) {
        const auto v =
            static_cast<int16_t>(std::lround(9000.0 * std::sin(i * 0.05) * (0.6 + 0.4 * std::sin(i / 300.0))));
        pcm.push_back(static_cast<uint8_t>(v));
        pcm.push_back(static_cast<uint8_t>(v >> 8));
    }
    const std::string src = dir_.File("tone.wav"), apm = dir_.File("t.apm"), bin = dir_.File("t.rbf");
    const std::string viaBin = dir_.File("via_bin.wav");
    cz::test::WriteFileBytes(src, cz::test::RiffBuilder().Fmt(1, 1, 16000, 16).Chunk("data", pcm).Bytes());
    ASSERT_EQ(ConvertWAVToAPM(src.c_str(), apm.c_str(), bin.c_str()), 1);
    ASSERT_EQ(ConvertMDMToWAV(bin.c_str(), viaBin.c_str()), 1);
    ASSERT_EQ(ConvertWAVToXMF(src.c_str(), xmf_.c_str()), 1);
    EXPECT_EQ(GetXMFResourceType(xmf_.c_str()), 5);
    EXPECT_EQ(ConvertXMFToMID(xmf_.c_str(), mid_.c_str()), 0);
    ASSERT_EQ(ConvertXMFToWAV(xmf_.c_str(), wav_.c_str()), 1);
    EXPECT_EQ(cz::test::ReadFileBytes(wav_), cz::test::ReadFileBytes(viaBin));
    EXPECT_EQ(cz::test::CountEntries(scratch_.Path()), 0u);
}

}  // namespace
