// XMF files: the resource type and node tree (info), and taking them apart
// (convert to MIDI, MIDI plus DLS, MIDI and DLS for playing, or WAV) through
// the library's XMF chains and the format helper.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Commands.h"
#include "Json.h"
#include "api/chains/Chains.h"
#include "api/chains/XmfReading.h"
#include "formats/registry/C_WavFileFormat.h"
#include "formats/registry/FormatId.h"
#include "foundation/C_CUString.h"
#include "platform/Platform.h"
#include "platform/SafeFiles.h"
#include "tree/XmfTree.h"
#include "wave/C_WavData.h"
#include "wave/C_WavFile.h"

namespace cz::cli {

namespace {

std::string LowerExtension(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string ext = path.substr(dot);
    for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return ext;
}

bool ReadAll(const std::string& path, std::vector<uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    in.seekg(0, std::ios::end);
    const auto size = static_cast<uint64_t>(in.tellg());
    if (size > kelvra::kMaxFileSize) return false;
    in.seekg(0);
    bytes.resize(static_cast<size_t>(size));
    return bytes.empty() ||
           static_cast<bool>(in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size)));
}

// Copies a finished file from the private folder to the caller's name, put in
// place whole.
bool Place(const std::string& from, const std::string& to) {
    std::vector<uint8_t> bytes;
    if (!ReadAll(from, bytes)) return false;
    auto out = platform::AtomicOutput::Begin(to);
    if (!out) return false;
    if (!bytes.empty() && !out->Out().Write(bytes.data(), bytes.size())) return false;
    return out->Commit();
}

bool CheckOutput(const Options& options, const std::string& path) {
    if (!options.overwrite && platform::FileExists(path)) {
        Fail(path, "the file exists (use -y to overwrite it)");
        return false;
    }
    return true;
}

const char* TypeText(int type) {
    switch (type) {
        case 1: return "IMF melody";
        case 2: return "reserved resource type 2";
        case 3: return "melody with speech (WIBN bundle)";
        case 4: return "reserved resource type 4";
        case 5: return "coded speech resource (RBF)";
        case 6: return "Standard MIDI File";
        case 7: return "Standard MIDI File with DLS bank";
        case 8: return "IMF melody with lyric block";
        default: return "unknown";
    }
}

}  // namespace

bool IsXmfFile(const std::string& path) {
    const std::string ext = LowerExtension(path);
    if (ext == ".xmf" || ext == ".mxmf") return true;
    std::ifstream in(path, std::ios::binary);
    char magic[4] = {};
    return in.read(magic, 4) && std::string(magic, 4) == "XMF_";
}

namespace {

// The length of what an XMF file plays: its melody, or else its speech
// resource; false when it holds neither in a form that can be read.
bool XmfSeconds(const std::string& path, double& seconds) {
    auto temp = platform::TempFolder::Create();
    if (!temp) return false;
    const std::string mid = temp->File("melody.mid"), wav = temp->File("speech.wav");
    if (api::ConvertXmfMelodyToMid(path.c_str(), mid.c_str()) == 1) return MidiFileSeconds(mid, seconds);
    if (api::ConvertXmfToWav(path.c_str(), wav.c_str()) != 1) return false;
    C_WavFileFormat factory;
    RefPtr<C_WavFile> file = factory.Open(wav.c_str(), kOpenWithSamples);
    I_WavInfo* info = file && file->Sound() ? file->Sound()->GetWavInfo() : nullptr;
    if (!info || !info->GetSampleRate()) return false;
    seconds = static_cast<double>(info->GetSampleCount()) / info->GetSampleRate();
    return true;
}

}  // namespace

int RunXmfInfo(const std::string& path, bool json) {
    std::vector<uint8_t> bytes;
    if (!ReadAll(path, bytes)) {
        Fail(path, "cannot be read, or larger than an XMF file may be");
        return kExitFailed;
    }
    kelvra::XmfTree tree;
    std::string error;
    if (!kelvra::ParseXmf(bytes, tree, error)) {
        Fail(path, "not a readable XMF file: " + error);
        return kExitFailed;
    }
    const int type = kelvra::ResourceType(tree);
    if (json) {
        Json out;
        out.Object().Key("file").String(path).Key("format").String("XMF " + tree.version);
        out.Key("format_id").Unsigned(kFormatXmf).Key("type").Int(type).Key("duration_s");
        if (double seconds = 0; XmfSeconds(path, seconds))
            out.Number(seconds);
        else
            out.Null();
        out.Key("nodes").Array();
        for (const auto& n : tree.nodes) {
            out.Object().Key("depth").Int(n.depth).Key("folder").Bool(n.folder).Key("name").String(n.name);
            out.Key("resource").String(kelvra::FormatName(n.format)).Key("bytes").Unsigned(n.bytes.size()).End();
        }
        out.End().End().Print();
        return kExitOk;
    }
    std::printf("%s: XMF %s", path.c_str(), tree.version.c_str());
    if (tree.version == "2.00")
        std::printf(" (Mobile XMF, file type %u revision %u)", tree.fileType, tree.fileTypeRevision);
    std::printf("\n  type %d: %s\n  nodes:\n", type, TypeText(type));
    for (const auto& n : tree.nodes) {
        std::printf("  %*s", n.depth * 2, "");
        if (n.folder)
            std::printf("folder, %u items", n.items);
        else
            std::printf("%s, %zu bytes%s",
                        n.format == kelvra::ResourceFormat::kOwn ? TypeText(n.ownType) : kelvra::FormatName(n.format),
                        n.bytes.size(), n.packed ? " (zlib)" : "");
        if (!n.name.empty()) std::printf(" \"%s\"", n.name.c_str());
        std::printf("\n");
    }
    return kExitOk;
}

int RunConvertFromXmf(const Options& options) {
    const std::string& input = options.inputs.front();
    const std::string& output = options.output;
    const std::string ext = LowerExtension(output);
    const bool toWav = ext == ".wav";
    if (!toWav && ext != ".mid" && ext != ".midi") {
        Fail(output, "an XMF file converts to .mid (with --dls for its DLS bank) or .wav");
        return kExitUsage;
    }
    if (toWav && (!options.dls.empty() || options.forPlay)) {
        Fail(output, "--dls and --for-play go with a MIDI output");
        return kExitUsage;
    }
    if (options.forPlay && options.dls.empty()) {
        Fail(output, "--for-play needs --dls FILE");
        return kExitUsage;
    }
    if (!CheckOutput(options, output) || (!options.dls.empty() && !CheckOutput(options, options.dls)))
        return kExitFailed;
    if (!api::DistinctFiles({input.c_str()}, {output, options.dls.empty() ? std::string("\x01") : options.dls},
                            api::InPlace::kRefused)) {
        Fail(output, "the outputs must be files of their own, not the input nor each other");
        return kExitFailed;
    }
    const int type = api::XmfResourceType(input.c_str());
    if (type < 0) {
        Fail(input, "the format helper (Kelvra) cannot be loaded");
        return kExitFailed;
    }
    // Every output is made in a private folder and put in place when all are done.
    auto temp = platform::TempFolder::Create();
    if (!temp) {
        Fail(platform::TempDirectory(), "cannot make a temporary folder");
        return kExitFailed;
    }
    const std::string mid = temp->File("out.mid"), dls = temp->File("out.dls");
    bool ok = false;
    std::vector<std::pair<std::string, std::string>> results;
    if (toWav) {
        ok = api::ConvertXmfToWav(input.c_str(), mid.c_str()) == 1;
        results = {{mid, output}};
    } else if (options.forPlay) {
        const std::string playMid = temp->File("play.mid"), playDls = temp->File("play.dls");
        ok = api::ConvertXmfToMidAndDlsForPlay(input.c_str(), mid.c_str(), dls.c_str(), playMid.c_str(),
                                               playDls.c_str()) == 1;
        results = {{playMid, output}, {playDls, options.dls}};
    } else if (!options.dls.empty()) {
        ok = api::ConvertXmfToMidAndDls(input.c_str(), mid.c_str(), dls.c_str()) == 1;
        results = {{mid, output}, {dls, options.dls}};
    } else {
        ok = api::ConvertXmfMelodyToMid(input.c_str(), mid.c_str()) == 1;
        results = {{mid, output}};
    }
    if (!ok) {
        std::string why = std::string("a ") + TypeText(type) + " XMF file (type " + std::to_string(type) + ")";
        if (toWav)
            why += type == 5 ? " whose speech resource could not be decoded" : " holds no speech resource";
        else if (!options.dls.empty())
            why += type == 7 ? " could not be split" : " holds no MIDI file and DLS bank";
        else
            why += " could not be turned into MIDI";
        Fail(input, why);
        return kExitFailed;
    }
    for (const auto& [from, to] : results)
        if (!Place(from, to)) {
            Fail(to, "cannot be written: " + platform::ErrorText(platform::LastError()));
            return kExitFailed;
        }
    if (options.verbose)
        for (const auto& r : results) std::printf("%s\n", r.second.c_str());
    return kExitOk;
}

}  // namespace cz::cli
