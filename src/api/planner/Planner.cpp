#include "api/planner/Planner.h"
#include "api/planner/PlanCache.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "api/chains/Chains.h"
#include "api/chains/MidiBridge.h"
#include "api/pipeline/Pipeline.h"
#include "dsp/resample/CleanResample.h"
#include "formats/binary/ResourceBinary.h"
#include "formats/registry/C_WavFileFormat.h"
#include "formats/registry/FormatId.h"
#include "formats/registry/FormatRegistry.h"
#include "foundation/RefPtr.h"
#include "platform/Platform.h"
#include "platform/SafeFiles.h"
#include "wave/C_WavFile.h"

namespace fs = std::filesystem;

namespace cz::api::planner {

namespace {

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool ReadBytes(const std::string& path, std::vector<uint8_t>& bytes, size_t limit = 0x7FFFFFFF) {
    auto file = platform::File::Open(path, platform::open_flags::kRead);
    if (!file) return false;
    auto size = file->Size();
    if (!size || *size > limit) return false;
    bytes.resize(static_cast<size_t>(*size));
    return bytes.empty() || file->ReadExact(bytes.data(), bytes.size());
}

// FNV-1a over the bytes, then their count.
uint64_t ContentHash(const std::vector<uint8_t>& bytes) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (uint8_t b : bytes) h = (h ^ b) * 0x100000001b3ull;
    for (int i = 0; i < 8; ++i) h = (h ^ ((bytes.size() >> (8 * i)) & 0xFF)) * 0x100000001b3ull;
    return h;
}

std::string Hex(uint64_t v) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(v));
    return text;
}

bool IsMidiBytes(const std::vector<uint8_t>& b) {
    return b.size() >= 4 && std::equal(b.begin(), b.begin() + 4, "MThd");
}
bool IsImfBytes(const std::vector<uint8_t>& b) { return b.size() >= 4 && std::equal(b.begin(), b.begin() + 4, "IMF1"); }

// --- quality ---------------------------------------------------------------

// Chip coders pad voice to whole frames, which delays what follows by a few
// samples: each stretch is compared at its own lag. The first stretch
// searches the whole window, later ones near the previous lag.
constexpr size_t kStretch = 4096;
constexpr int kMaxLag = 64;
constexpr int kNearLag = 8;
// Mean power of a silent segment: 10 LSB rms (-70 dBFS), or 50 dB under the
// loudest segment.
constexpr double kSilentPower = 100.0;
constexpr double kSilentBelowLoudest = 1e-5;

double At(const std::vector<double>& v, long i) {
    return i >= 0 && i < static_cast<long>(v.size()) ? v[static_cast<size_t>(i)] : 0.0;
}

struct Quality {
    double snr = 0;
    double segmental = 0;
};

// SNR over the whole (each stretch at its best lag) and segmental SNR over
// 20 ms segments, each clamped to [-10, 35] dB, silent source segments left
// out. A rendition shorter than the source counts the missing end as error.
Quality Measure(const std::vector<double>& source, const std::vector<double>& played, uint32_t rate) {
    Quality q;
    const size_t length = std::max(source.size(), played.size());
    std::vector<int> lags;
    double signal = 0, noise = 0;
    int previous = 0;
    for (size_t start = 0; start < length; start += kStretch) {
        const size_t end = std::min(length, start + kStretch);
        const int reach = start == 0 ? kMaxLag : kNearLag;
        double bestNoise = -1, bestSignal = 0;
        int bestLag = previous;
        for (int d = 0; d <= 2 * reach; ++d) {
            // Nearest the previous lag first, so that ties keep it.
            const int lag = previous + ((d & 1) ? (d + 1) / 2 : -(d / 2));
            if (lag < -kMaxLag || lag > kMaxLag) continue;
            double s = 0, e = 0;
            for (size_t i = start; i < end; ++i) {
                const double x = At(source, static_cast<long>(i) + lag), y = At(played, static_cast<long>(i));
                s += x * x;
                e += (x - y) * (x - y);
            }
            if (bestNoise < 0 || e < bestNoise) {
                bestNoise = e;
                bestSignal = s;
                bestLag = lag;
            }
        }
        lags.push_back(bestLag);
        previous = bestLag;
        signal += bestSignal;
        noise += bestNoise;
    }
    q.snr = noise > 0 ? 10 * std::log10(std::max(signal, 1e-9) / noise) : 99.0;
    const size_t segment = std::max<size_t>(1, rate / 50);
    std::vector<double> signals, errors;
    double loudest = 0;
    for (size_t start = 0; start < length; start += segment) {
        double s = 0, e = 0;
        const size_t end = std::min(length, start + segment);
        for (size_t i = start; i < end; ++i) {
            const int lag = lags[std::min(i / kStretch, lags.size() - 1)];
            const double x = At(source, static_cast<long>(i) + lag), y = At(played, static_cast<long>(i));
            s += x * x;
            e += (x - y) * (x - y);
        }
        signals.push_back(s / static_cast<double>(end - start));
        errors.push_back(e / static_cast<double>(end - start));
        loudest = std::max(loudest, signals.back());
    }
    // Silence is left out: segments quieter than kSilentPower or more than
    // kSilentBelowLoudest under the prompt's loudest segment. A prompt of
    // nothing but silence has no quality (NaN): it never limits a plan.
    const double floor = std::max(kSilentPower, loudest * kSilentBelowLoudest);
    double sum = 0;
    size_t count = 0;
    for (size_t k = 0; k < signals.size(); ++k) {
        if (signals[k] < floor) continue;
        const double snr = errors[k] > 0 ? 10 * std::log10(signals[k] / errors[k]) : 35.0;
        sum += std::clamp(snr, -10.0, 35.0);
        ++count;
    }
    if (!count) {
        q.segmental = q.snr = std::numeric_limits<double>::quiet_NaN();
        return q;
    }
    q.segmental = sum / static_cast<double>(count);
    return q;
}

// A WAV file's sound, its channels averaged.
bool LoadMono(const std::string& path, uint32_t* rate, std::vector<double>& samples) {
    C_WavFileFormat factory;
    RefPtr<C_WavFile> file = factory.Open(path.c_str());
    if (!file || !file->Sound()) return false;
    C_WavData* sound = file->Sound();
    *rate = sound->GetWavInfo()->GetSampleRate();
    const uint16_t channels = std::max<uint16_t>(1, sound->GetWavInfo()->GetChannels());
    const uint32_t n = sound->SampleCount();
    samples.assign(n, 0.0);
    for (uint32_t i = 0; i < n; ++i) {
        double sum = 0;
        for (uint16_t c = 0; c < channels; ++c) sum += sound->Sample(i, c);
        samples[i] = sum / channels;
    }
    return *rate != 0;
}

// --- the cache -------------------------------------------------------------

std::string CachePath(const std::string& folder, uint64_t hash) { return folder + "/" + Hex(hash) + ".plan"; }

void ReadCache(const std::string& path, PlanCache& cache) {
    std::vector<uint8_t> bytes;
    if (ReadBytes(path, bytes, 16u << 20)) ParsePlanCache(std::string(bytes.begin(), bytes.end()), cache);
}

void WriteCache(const std::string& folder, const std::string& path, const PlanCache& cache) {
    std::error_code error;
    fs::create_directories(folder, error);
    const std::string text = PlanCacheText(cache);
    std::string failure;
    pipeline::PublishBytes(path, text.data(), text.size(), &failure);  // a cache that cannot be written is no fault
}

// --- coding ----------------------------------------------------------------

std::string CacheKey(const Choice& c, const Settings& s) {
    return c.Key() + "|" + s.profile.Name() + "|" + s.coderVersion;
}

pipeline::Job CodingJob(const std::string& input, const Choice& c, uint32_t sourceRate, const Profile& profile,
                        const std::string& output, const std::string& binary) {
    pipeline::Job job;
    job.input = input;
    job.output = output;
    job.writeAs = c.format;
    job.rate = c.rate == sourceRate ? 0 : c.rate;
    job.haveCodecParam = c.haveParam;
    job.codecParam = c.param;
    job.profile = profile;
    job.readBinaries = true;
    job.binary = binary;
    job.overwrite = true;
    return job;
}

std::mutex& MelodyMutex() {
    static std::mutex m;
    return m;
}

// A melody's resource: the IMF file, made from a MIDI file when needed.
bool MelodyBytes(const std::string& path, const std::vector<uint8_t>& content, const std::string& scratch,
                 std::vector<uint8_t>& imf, std::string* failure) {
    if (IsImfBytes(content)) {
        imf = content;
        return true;
    }
    const std::string out = scratch + "/melody.imf";
    bool ok;
    {
        // The melody tool is a library with state of its own.
        std::lock_guard<std::mutex> lock(MelodyMutex());
        ok = ConvertMidToImf(path.c_str(), out.c_str()) != 0;
    }
    if (!ok || !ReadBytes(out, imf)) {
        *failure = "the melody tool could not make an IMF melody of it";
        return false;
    }
    return true;
}

Choice MelodyChoice() {
    Choice c;
    c.format = kFormatImf;
    c.extension = "imf";
    return c;
}

// A resampler per rate pair, kept by each worker.
class Resamplers {
public:
    const resample::CleanResampler& Get(uint32_t from, uint32_t to) {
        const uint64_t key = (static_cast<uint64_t>(from) << 32) | to;
        auto it = cache_.find(key);
        if (it == cache_.end()) it = cache_.emplace(key, std::make_unique<resample::CleanResampler>(from, to)).first;
        return *it->second;
    }

private:
    std::map<uint64_t, std::unique_ptr<resample::CleanResampler>> cache_;
};

// Codes one choice and measures it.
CacheEntry CodeAndMeasure(const std::string& input, const Choice& c, uint32_t sourceRate,
                          const std::vector<double>& source, const Profile& profile, const std::string& scratch,
                          Resamplers& resamplers) {
    CacheEntry entry;
    const std::string binary = scratch + "/coded.bin";
    const pipeline::Result result =
        pipeline::Run(CodingJob(input, c, sourceRate, profile, scratch + "/coded." + c.extension, binary));
    if (!result.ok()) {
        entry.reason = result.failure.text.empty() ? "cannot be coded" : result.failure.text;
        return entry;
    }
    S_ResourceBinary decoded;
    std::string reason;
    if (!ReadResourceBinaryFile(binary.c_str(), decoded, &reason)) {
        entry.reason = "its resource binary cannot be read back: " + reason;
        return entry;
    }
    std::vector<double> played;
    if (decoded.sampleRate == 0 || decoded.samples.empty()) {
        played.clear();
    } else if (decoded.sampleRate == sourceRate) {
        played.assign(decoded.samples.begin(), decoded.samples.end());
    } else {
        const size_t n = decoded.samples.size();
        const size_t count =
            static_cast<size_t>((static_cast<uint64_t>(n) * sourceRate + decoded.sampleRate / 2) / decoded.sampleRate);
        std::vector<int16_t> back(count);
        resamplers.Get(decoded.sampleRate, sourceRate).Run(decoded.samples.data(), n, back.data(), count);
        played.assign(back.begin(), back.end());
    }
    const Quality q = Measure(source, played, sourceRate);
    entry.ok = true;
    entry.bytes = decoded.bytes;
    entry.segmental = q.segmental;
    entry.snr = q.snr;
    return entry;
}

Outcome ToOutcome(const Choice& c, const CacheEntry& e) {
    Outcome o;
    o.choice = c;
    o.ok = e.ok;
    o.reason = e.reason;
    o.bytes = e.bytes;
    o.segmental = e.segmental;
    o.snr = e.snr;
    return o;
}

// Surveys one prompt: from the cache where it can, coding the rest.
void SurveyPrompt(Prompt& prompt, const Settings& settings, const std::string& cacheFolder, Resamplers& resamplers) {
    std::vector<uint8_t> content;
    if (!ReadBytes(prompt.path, content)) {
        prompt.failure = "cannot be read";
        return;
    }
    prompt.contentHash = ContentHash(content);
    prompt.melody = IsMidiBytes(content) || IsImfBytes(content);
    const std::string cachePath = settings.noCache ? std::string() : CachePath(cacheFolder, prompt.contentHash);
    PlanCache cache;
    if (!cachePath.empty()) ReadCache(cachePath, cache);
    auto scratch = platform::TempFolder::Create("czplan");
    auto needScratch = [&]() {
        if (!scratch) prompt.failure = "cannot make a temporary folder in " + platform::TempDirectory();
        return bool(scratch);
    };

    if (prompt.melody) {
        const Choice c = MelodyChoice();
        const std::string key = CacheKey(c, settings);
        auto it = cache.entries.find(key);
        CacheEntry entry;
        if (it != cache.entries.end() && it->second.ok) {
            entry = it->second;
        } else {
            if (!needScratch()) return;
            std::vector<uint8_t> imf;
            std::string failure;
            if (MelodyBytes(prompt.path, content, scratch->Path(), imf, &failure)) {
                entry.ok = true;
                entry.bytes = imf.size();
                entry.segmental = entry.snr = std::numeric_limits<double>::quiet_NaN();
            } else {
                entry.reason = failure;
            }
            ++prompt.coded;
            if (entry.ok) {
                cache.entries[key] = entry;
                if (!cachePath.empty()) WriteCache(cacheFolder, cachePath, cache);
            }
        }
        if (!entry.ok) {
            prompt.failure = entry.reason;
            return;
        }
        entry.segmental = entry.snr = std::numeric_limits<double>::quiet_NaN();
        prompt.outcomes.push_back(ToOutcome(c, entry));
        prompt.ok = true;
        return;
    }

    std::vector<double> source;
    bool haveSource = false;
    auto loadSource = [&]() {
        if (haveSource) return true;
        if (!needScratch()) return false;
        pipeline::Job job;
        job.input = prompt.path;
        job.output = scratch->File("source.wav");
        job.writeAs = kFormatWav;
        job.profile = settings.profile;
        job.readBinaries = true;
        job.sourceSamples = true;
        job.overwrite = true;
        const pipeline::Result result = pipeline::Run(job);
        uint32_t rate = 0;
        if (!result.ok() || !LoadMono(job.output, &rate, source)) {
            prompt.failure =
                result.ok() || result.failure.text.empty() ? "cannot be read as a sound" : result.failure.text;
            return false;
        }
        haveSource = true;
        cache.haveSource = true;
        cache.sourceRate = rate;
        cache.seconds = static_cast<double>(source.size()) / rate;
        return true;
    };
    if (!cache.haveSource && !loadSource()) return;
    prompt.sourceRate = cache.sourceRate;
    prompt.seconds = cache.seconds;
    bool changed = haveSource;  // the source line is new
    for (const Choice& c : ChoicesFor(settings, prompt.sourceRate)) {
        const std::string key = CacheKey(c, settings);
        auto it = cache.entries.find(key);
        if (it != cache.entries.end() && it->second.ok) {
            prompt.outcomes.push_back(ToOutcome(c, it->second));
            continue;
        }
        if (!loadSource()) return;
        const CacheEntry entry =
            CodeAndMeasure(prompt.path, c, prompt.sourceRate, source, settings.profile, scratch->Path(), resamplers);
        ++prompt.coded;
        // Only codings are kept: a failure may be passing (a codec library
        // that could not be loaded, a full disk), so it is tried again.
        if (entry.ok) {
            cache.entries[key] = entry;
            changed = true;
        }
        prompt.outcomes.push_back(ToOutcome(c, entry));
    }
    if (changed && !cachePath.empty()) WriteCache(cacheFolder, cachePath, cache);
    prompt.ok = std::any_of(prompt.outcomes.begin(), prompt.outcomes.end(), [](const Outcome& o) { return o.ok; });
    if (!prompt.ok) {
        prompt.failure = "no choice codes it";
        for (const Outcome& o : prompt.outcomes)
            if (!o.reason.empty()) {
                prompt.failure += " (" + o.choice.Label() + ": " + o.reason + ")";
                break;
            }
    }
}

bool IsInputName(const fs::path& path) {
    const std::string ext = Lower(path.extension().string());
    return ext == ".wav" || ext == ".mp3" || ext == ".wma" || ext == ".mid" || ext == ".midi" || ext == ".imf";
}

}  // namespace

// --- choices ---------------------------------------------------------------

std::string Choice::Label() const {
    std::string text = extension;
    if (rate) text += " " + std::to_string(rate);
    if (haveParam) {
        if (format == kFormatApm)
            text += param == 0 ? " flush" : param == 2 ? " pad" : " mode " + std::to_string(param);
        else if (format == kFormatEsb)
            text += " " + std::to_string((param & 0xFFFF) * 100) + " bit/s";
        else if (format == kFormatSbd)
            text += " " + std::to_string(param & 0xFFFF) + " bit/s";
        else
            text += " param " + std::to_string(param);
    }
    return text;
}

std::string Choice::Key() const {
    return extension + "/" + std::to_string(format) + "/" + std::to_string(rate) + "/" +
           (haveParam ? std::to_string(param) : std::string("-"));
}

const std::vector<uint32_t>& DefaultRates() {
    static const std::vector<uint32_t> rates{16000, 12000, 11025, 8000, 6000};
    return rates;
}

const std::vector<uint32_t>& DefaultBitRates() {
    static const std::vector<uint32_t> rates{4000, 6000, 8000, 12000, 16000};
    return rates;
}

std::vector<uint32_t> BinaryFormats() {
    // The codings the resource converter writes binaries of
    // (formats/binary/ResourceBinary.h), by the extension of their files.
    static const char* const kExtensions[] = {".apm", ".ad4", ".mdm", ".42m", ".pc8", ".lp8", ".p10", ".p16",
                                              ".s08", ".s16", ".pam", ".mcp", ".mvc", ".wlp", ".esb", ".sbd"};
    std::vector<uint32_t> ids;
    for (const char* e : kExtensions) {
        const uint32_t id = GetFormatIdFromExtension(e);
        if (id != kFormatNone) ids.push_back(id);
    }
    return ids;
}

std::string DefaultCacheFolder() {
    if (const char* own = std::getenv("CADENZOR_CACHE"); own && *own) return own;
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg) return std::string(xdg) + "/cadenzor";
    if (const char* home = std::getenv("HOME"); home && *home) return std::string(home) + "/.cache/cadenzor";
    if (const char* profile = std::getenv("LOCALAPPDATA"); profile && *profile)
        return std::string(profile) + "/cadenzor/cache";
    return platform::TempDirectory() + "/cadenzor-cache";
}

std::vector<Choice> ChoicesFor(const Settings& settings, uint32_t sourceRate) {
    std::vector<uint32_t> rates;
    if (settings.rates.empty()) {
        rates.push_back(sourceRate);
        for (uint32_t r : DefaultRates())
            if (r < sourceRate) rates.push_back(r);
    } else {
        for (uint32_t r : settings.rates)
            if (r <= sourceRate && std::find(rates.begin(), rates.end(), r) == rates.end()) rates.push_back(r);
    }
    const std::vector<uint32_t> formats = settings.formats.empty() ? BinaryFormats() : settings.formats;
    const std::vector<uint32_t>& bitRates = settings.bitRates.empty() ? DefaultBitRates() : settings.bitRates;
    std::vector<Choice> choices;
    for (uint32_t f : formats) {
        const char* ext = GetExtensionOfFormat(f);
        std::string extension = ext ? Lower(ext) : std::string();
        if (!extension.empty() && extension[0] == '.') extension.erase(0, 1);
        for (uint32_t r : rates) {
            Choice c;
            c.format = f;
            c.extension = extension;
            c.rate = r;
            if (f == kFormatApm) {
                // Flushing to silence and padding only; a lead-in only costs.
                for (uint32_t mode : {0u, 2u}) {
                    c.haveParam = true;
                    c.param = mode;
                    choices.push_back(c);
                }
            } else if (f == kFormatEsb || f == kFormatSbd) {
                for (uint32_t b : bitRates) {
                    c.haveParam = true;
                    c.param = f == kFormatEsb ? b / 100 : b;
                    choices.push_back(c);
                }
            } else {
                choices.push_back(c);
            }
        }
    }
    return choices;
}

bool CollectInputs(const std::vector<std::string>& paths, std::vector<std::string>& inputs, std::string* failure) {
    for (const auto& path : paths) {
        std::error_code error;
        if (fs::is_directory(path, error)) {
            std::vector<std::string> found;
            for (auto it = fs::recursive_directory_iterator(path, fs::directory_options::skip_permission_denied, error);
                 !error && it != fs::recursive_directory_iterator(); it.increment(error))
                if (it->is_regular_file() && IsInputName(it->path())) found.push_back(it->path().string());
            if (error) {
                *failure = path + ": cannot read the folder: " + error.message();
                return false;
            }
            if (found.empty()) {
                *failure = path + ": holds no prompts (WAV, MP3, WMA, MIDI or IMF files)";
                return false;
            }
            std::sort(found.begin(), found.end());
            inputs.insert(inputs.end(), found.begin(), found.end());
        } else if (!platform::FileExists(path)) {
            *failure = path + ": no such file or folder";
            return false;
        } else {
            inputs.push_back(path);
        }
    }
    if (inputs.empty()) {
        *failure = "no prompts given";
        return false;
    }
    return true;
}

Survey RunSurvey(const std::vector<std::string>& inputs, const Settings& settings) {
    Survey survey;
    survey.prompts.resize(inputs.size());
    for (size_t i = 0; i < inputs.size(); ++i) survey.prompts[i].path = inputs[i];
    const std::string cacheFolder = settings.cacheFolder.empty() ? DefaultCacheFolder() : settings.cacheFolder;
    unsigned workers = settings.jobs ? settings.jobs : std::max(1u, std::thread::hardware_concurrency());
    workers = std::max(1u, std::min<unsigned>(workers, static_cast<unsigned>(inputs.size())));
    std::atomic<size_t> next{0}, done{0};
    std::mutex mutex;
    if (settings.progress) settings.progress->OnBegin();
    auto work = [&]() {
        Resamplers resamplers;
        for (;;) {
            const size_t i = next.fetch_add(1);
            if (i >= inputs.size()) return;
            SurveyPrompt(survey.prompts[i], settings, cacheFolder, resamplers);
            const size_t finished = done.fetch_add(1) + 1;
            if (settings.progress) {
                std::lock_guard<std::mutex> lock(mutex);
                settings.progress->OnProgress(static_cast<int32_t>(finished * 100 / inputs.size()));
            }
        }
    };
    std::vector<std::thread> threads;
    for (unsigned w = 1; w < workers; ++w) threads.emplace_back(work);
    work();
    for (auto& t : threads) t.join();
    if (settings.progress) settings.progress->OnEnd();
    for (const Prompt& p : survey.prompts) {
        survey.coded += p.coded;
        survey.cached += p.outcomes.size() >= p.coded ? p.outcomes.size() - p.coded : 0;
    }
    return survey;
}

std::vector<std::vector<Option>> TablesOf(const Survey& survey) {
    std::vector<std::vector<Option>> tables;
    for (const Prompt& p : survey.prompts) {
        std::vector<Option> table;
        for (const Outcome& o : p.outcomes)
            // Melodies and silent prompts have no quality (NaN).
            if (o.ok) table.push_back({o.bytes, p.melody ? std::numeric_limits<double>::quiet_NaN() : o.segmental});
        tables.push_back(table);
    }
    return tables;
}

const Outcome& Picked(const Survey& survey, const Plan& plan, size_t p) {
    const Prompt& prompt = survey.prompts[p];
    size_t k = 0;
    for (const Outcome& o : prompt.outcomes) {
        if (!o.ok) continue;
        if (k++ == plan.pick[p]) return o;
    }
    return prompt.outcomes.front();
}

bool BestSingleChoice(const Survey& survey, uint64_t budget, SingleChoice* best) {
    // Keys every prompt with a quality has; melodies keep their own choice.
    std::map<std::string, std::vector<const Outcome*>> byKey;
    std::vector<const Outcome*> melodies;
    size_t speech = 0;
    for (const Prompt& p : survey.prompts) {
        if (p.melody) {
            melodies.push_back(&p.outcomes.front());
            continue;
        }
        ++speech;
        for (const Outcome& o : p.outcomes)
            if (o.ok) byKey[o.choice.Key()].push_back(&o);
    }
    bool found = false;
    for (const auto& [key, outcomes] : byKey) {
        if (outcomes.size() != speech) continue;
        std::vector<uint64_t> sizes;
        double worst = std::numeric_limits<double>::infinity(), sum = 0;
        size_t m = 0, s = 0, rated = 0;
        for (const Prompt& p : survey.prompts) {
            if (p.melody) {
                sizes.push_back(melodies[m++]->bytes);
                continue;
            }
            const Outcome* o = outcomes[s++];
            sizes.push_back(o->bytes);
            if (std::isnan(o->segmental)) continue;  // silence
            worst = std::min(worst, o->segmental);
            sum += o->segmental;
            ++rated;
        }
        const uint64_t image = PackImageBytes(sizes);
        if (image > budget) continue;
        if (!rated) worst = 0;
        if (!found || worst > best->worst || (worst == best->worst && image < best->imageBytes)) {
            found = true;
            best->key = key;
            best->label = outcomes.front()->choice.Label();
            best->imageBytes = image;
            best->worst = worst;
            best->mean = rated ? sum / static_cast<double>(rated) : 0;
        }
    }
    return found;
}

bool ApplyPlan(const Survey& survey, const Plan& plan, const ApplyTarget& target, std::vector<std::string>* written,
               std::string* failure) {
    auto scratch = platform::TempFolder::Create("czapply");
    if (!scratch) {
        *failure = platform::TempDirectory() + ": cannot make a temporary folder";
        return false;
    }
    std::vector<std::string> paths;
    for (const Prompt& p : survey.prompts) paths.push_back(p.path);
    const std::vector<std::string> names = PromptNames(paths);
    // Every output is made in the private folder first; then each is put in
    // place. What exists is refused before anything is coded.
    struct Move {
        std::string from, to;
    };
    std::vector<Move> moves;
    std::vector<std::vector<uint8_t>> resources;
    std::vector<uint32_t> sizes;
    for (size_t i = 0; i < survey.prompts.size(); ++i) {
        const Prompt& prompt = survey.prompts[i];
        const Outcome& o = Picked(survey, plan, i);
        std::string stem = Lower(names[i]);
        const std::string made = scratch->File(stem + "." + o.choice.extension);
        const std::string bin = scratch->File(stem + ".bin");
        std::vector<uint8_t> bytes;
        if (prompt.melody) {
            std::vector<uint8_t> content;
            if (!ReadBytes(prompt.path, content) ||
                !MelodyBytes(prompt.path, content, scratch->Path(), bytes, failure)) {
                if (failure->empty()) *failure = "cannot be read";
                *failure = prompt.path + ": " + *failure;
                return false;
            }
            std::string why;
            if (!pipeline::PublishBytes(made, bytes.data(), bytes.size(), &why)) {
                *failure = made + ": " + why;
                return false;
            }
        } else {
            const pipeline::Result result =
                pipeline::Run(CodingJob(prompt.path, o.choice, prompt.sourceRate, target.profile, made, bin));
            if (!result.ok() || !ReadBytes(bin, bytes)) {
                *failure = prompt.path + ": " + (result.failure.text.empty() ? "cannot be coded" : result.failure.text);
                return false;
            }
        }
        if (bytes.size() != o.bytes) {
            *failure = prompt.path + ": " + o.choice.Label() + " coded to " + std::to_string(bytes.size()) +
                       " bytes where the plan measured " + std::to_string(o.bytes) +
                       " (a cache from another coder? plan again without it)";
            return false;
        }
        if (!target.outFolder.empty()) {
            const std::string base = target.outFolder + "/" + stem;
            moves.push_back({made, base + "." + o.choice.extension});
            if (!prompt.melody) {
                moves.push_back({bin, base + ".bin"});
                moves.push_back({HeaderPath(bin.c_str()), HeaderPath((base + ".bin").c_str())});
            }
        }
        sizes.push_back(static_cast<uint32_t>(bytes.size()));
        resources.push_back(std::move(bytes));
    }
    std::vector<uint8_t> image;
    std::string header;
    if (!target.packImage.empty()) {
        std::vector<uint32_t> offsets;
        if (!BuildPackImage(resources, image, offsets, failure)) {
            *failure = target.packImage + ": " + *failure;
            return false;
        }
        if (image.size() != plan.imageBytes) {
            *failure = target.packImage + ": the image came out at " + std::to_string(image.size()) +
                       " bytes where the plan counted " + std::to_string(plan.imageBytes);
            return false;
        }
        std::string formats;
        for (size_t i = 0; i < survey.prompts.size(); ++i) {
            const std::string& e = Picked(survey, plan, i).choice.extension;
            if (formats.find(e) == std::string::npos) formats += (formats.empty() ? "" : ", ") + e;
        }
        header = PackHeaderText(target.packImage, image, PromptNames(paths), offsets, sizes,
                                std::to_string(survey.prompts.size()) + " prompts, " + formats + ", planned");
    }
    // Refuse existing outputs before any is put in place.
    if (!target.overwrite) {
        std::vector<std::string> targets;
        for (const Move& m : moves) targets.push_back(m.to);
        if (!target.packImage.empty()) {
            targets.push_back(target.packImage);
            targets.push_back(target.packImage + ".h");
        }
        for (const auto& t : targets)
            if (platform::FileExists(t)) {
                *failure = t + ": the file exists (overwrite it to replace it)";
                return false;
            }
    }
    if (!target.outFolder.empty()) {
        std::error_code error;
        fs::create_directories(target.outFolder, error);
        if (error) {
            *failure = target.outFolder + ": cannot make the folder: " + error.message();
            return false;
        }
    }
    std::string why;
    for (const Move& m : moves) {
        if (!pipeline::PublishFile(m.from, m.to, &why)) {
            *failure = m.to + ": " + why;
            return false;
        }
        if (written) written->push_back(m.to);
    }
    if (!target.packImage.empty()) {
        if (!pipeline::PublishBytes(target.packImage, image.data(), image.size(), &why)) {
            *failure = target.packImage + ": " + why;
            return false;
        }
        const std::string h = target.packImage + ".h";
        if (!pipeline::PublishBytes(h, header.data(), header.size(), &why)) {
            *failure = h + ": " + why;
            return false;
        }
        if (written) {
            written->push_back(target.packImage);
            written->push_back(h);
        }
    }
    return true;
}

}  // namespace cz::api::planner
