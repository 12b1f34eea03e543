// The XMF-reading exports drive the format helper library: which entries run
// for which resource type, in which order, what a missing entry or library
// gives, and what is deleted when the for-play chain fails. Each case runs a
// copy of the library in a folder of its own, beside a logging helper built
// for these tests, in a child process. The closed loop WAV -> XMF -> WAV runs
// through the real helper stand-in.
#include <gtest/gtest.h>

#include <dlfcn.h>
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
