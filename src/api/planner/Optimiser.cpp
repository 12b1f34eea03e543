// The plan on size/quality tables. Every prompt's cost is the bytes it adds
// to the pack image: its resource rounded up to the alignment, the last one
// as it is, so that the header plus the costs is the image to the byte.
#include <algorithm>
#include <cmath>
#include <limits>

#include "api/planner/Planner.h"

namespace cz::api::planner {

namespace {

constexpr double kTie = 1e-9;
// Table cells (prompts x budget steps) up to which the mean is solved exactly
// by dynamic programming over the image's bytes.
constexpr uint64_t kExactCells = 30'000'000;

uint64_t Aligned(uint64_t n) { return (n + kPackAlign - 1) / kPackAlign * kPackAlign; }

struct Problem {
    // Per prompt the options allowed, as indices into its table.
    std::vector<std::vector<size_t>> allowed;
    const std::vector<std::vector<Option>>* tables = nullptr;
    uint64_t header = 0;

    size_t Count() const { return allowed.size(); }
    uint64_t Cost(size_t p, size_t k) const {
        const uint64_t bytes = (*tables)[p][k].bytes;
        return p + 1 < Count() ? Aligned(bytes) : bytes;
    }
    double Value(size_t p, size_t k) const {
        const double q = (*tables)[p][k].quality;
        return std::isnan(q) ? 0.0 : q;
    }
};

void Summarise(const std::vector<std::vector<Option>>& tables, Plan& plan) {
    std::vector<uint64_t> sizes;
    double worst = std::numeric_limits<double>::infinity(), sum = 0;
    size_t rated = 0;
    for (size_t p = 0; p < tables.size(); ++p) {
        const Option& o = tables[p][plan.pick[p]];
        sizes.push_back(o.bytes);
        if (std::isnan(o.quality)) continue;
        worst = std::min(worst, o.quality);
        sum += o.quality;
        ++rated;
    }
    plan.imageBytes = PackImageBytes(sizes);
    plan.worst = rated ? worst : 0;
    plan.mean = rated ? sum / static_cast<double>(rated) : 0;
}

// The cheapest allowed option of each prompt (ties to the better sound).
std::vector<size_t> Cheapest(const Problem& problem) {
    std::vector<size_t> pick;
    for (size_t p = 0; p < problem.Count(); ++p) {
        size_t best = problem.allowed[p].front();
        for (size_t k : problem.allowed[p]) {
            const uint64_t c = problem.Cost(p, k), cb = problem.Cost(p, best);
            if (c < cb || (c == cb && problem.Value(p, k) > problem.Value(p, best) + kTie)) best = k;
        }
        pick.push_back(best);
    }
    return pick;
}

uint64_t Total(const Problem& problem, const std::vector<size_t>& pick) {
    uint64_t total = problem.header;
    for (size_t p = 0; p < pick.size(); ++p) total += problem.Cost(p, pick[p]);
    return total;
}

// The best sum of values within budget, exactly: dynamic programming over
// the bytes above every prompt's cheapest option, in steps of the alignment
// (every cost but the last prompt's is a multiple of it); the last prompt's
// options are tried one by one. False when the table would be too large.
bool MeanExact(const Problem& problem, uint64_t budget, std::vector<size_t>& pick) {
    const size_t n = problem.Count();
    const std::vector<size_t> cheapest = Cheapest(problem);
    uint64_t base = problem.header;
    for (size_t p = 0; p + 1 < n; ++p) base += problem.Cost(p, cheapest[p]);
    const size_t last = n - 1;
    uint64_t steps = 0;  // the most steps any last option leaves
    for (size_t k : problem.allowed[last]) {
        const uint64_t used = base + problem.Cost(last, k);
        if (used <= budget) steps = std::max(steps, (budget - used) / kPackAlign);
    }
    // Steps beyond what every prompt at its largest would use are of no use.
    uint64_t reach = 0;
    for (size_t p = 0; p + 1 < n; ++p) {
        uint64_t most = 0;
        for (size_t k : problem.allowed[p]) most = std::max(most, problem.Cost(p, k) - problem.Cost(p, cheapest[p]));
        reach += most / kPackAlign;
    }
    steps = std::min(steps, reach);
    if (static_cast<uint64_t>(n) * (steps + 1) > kExactCells) return false;
    const size_t width = static_cast<size_t>(steps) + 1;
    const double kNone = -std::numeric_limits<double>::infinity();
    std::vector<double> value(width, kNone), next(width);
    value[0] = 0;
    std::vector<uint32_t> choice((n > 0 ? n - 1 : 0) * width, 0);
    for (size_t p = 0; p + 1 < n; ++p) {
        std::fill(next.begin(), next.end(), kNone);
        const uint64_t floor = problem.Cost(p, cheapest[p]);
        for (size_t k : problem.allowed[p]) {
            const size_t extra = static_cast<size_t>((problem.Cost(p, k) - floor) / kPackAlign);
            const double v = problem.Value(p, k);
            for (size_t e = extra; e < width; ++e) {
                if (value[e - extra] == kNone) continue;
                const double candidate = value[e - extra] + v;
                if (next[e] == kNone || candidate > next[e]) {
                    next[e] = candidate;
                    choice[p * width + e] = static_cast<uint32_t>(k);
                }
            }
        }
        value.swap(next);
    }
    // The last prompt's option and the steps: the best value, ties to the
    // smaller image.
    bool found = false;
    double bestValue = 0;
    uint64_t bestTotal = 0;
    size_t bestK = 0, bestE = 0;
    for (size_t k : problem.allowed[last]) {
        const uint64_t used = base + problem.Cost(last, k);
        if (used > budget) continue;
        const size_t limit = static_cast<size_t>(std::min<uint64_t>(steps, (budget - used) / kPackAlign));
        for (size_t e = 0; e <= limit; ++e) {
            if (value[e] == kNone) continue;
            const double v = value[e] + problem.Value(last, k);
            const uint64_t total = used + e * kPackAlign;
            if (!found || v > bestValue + kTie || (v > bestValue - kTie && total < bestTotal)) {
                found = true;
                bestValue = v;
                bestTotal = total;
                bestK = k;
                bestE = e;
            }
        }
    }
    if (!found) return true;  // pick stays empty: nothing fits
    pick.assign(n, 0);
    pick[last] = bestK;
    size_t e = bestE;
    for (size_t p = n - 1; p-- > 0;) {
        const size_t k = choice[p * width + e];
        pick[p] = k;
        e -= static_cast<size_t>((problem.Cost(p, k) - problem.Cost(p, cheapest[p])) / kPackAlign);
    }
    return true;
}

// The Lagrangian relaxation: every prompt climbs its convex hull of
// (cost, value), the steps taken best value per byte first while they fit.
// Returns an upper bound on the best sum (the relaxation's optimum).
double MeanHull(const Problem& problem, uint64_t budget, std::vector<size_t>& pick) {
    const size_t n = problem.Count();
    struct Step {
        size_t prompt;
        size_t from, to;  // positions on the prompt's hull
        uint64_t bytes;
        double gain;
    };
    std::vector<std::vector<size_t>> hulls(n);
    std::vector<Step> steps;
    for (size_t p = 0; p < n; ++p) {
        std::vector<size_t> order = problem.allowed[p];
        std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            const uint64_t ca = problem.Cost(p, a), cb = problem.Cost(p, b);
            if (ca != cb) return ca < cb;
            return problem.Value(p, a) > problem.Value(p, b);
        });
        std::vector<size_t>& hull = hulls[p];
        for (size_t k : order) {
            if (!hull.empty() && problem.Value(p, k) <= problem.Value(p, hull.back()) + kTie) continue;
            // Drop points that lie on or under the chord to the new one.
            while (hull.size() >= 2) {
                const size_t a = hull[hull.size() - 2], b = hull.back();
                const double x1 = static_cast<double>(problem.Cost(p, b) - problem.Cost(p, a));
                const double y1 = problem.Value(p, b) - problem.Value(p, a);
                const double x2 = static_cast<double>(problem.Cost(p, k) - problem.Cost(p, a));
                const double y2 = problem.Value(p, k) - problem.Value(p, a);
                if (y1 * x2 <= y2 * x1)
                    hull.pop_back();
                else
                    break;
            }
            hull.push_back(k);
        }
        for (size_t j = 0; j + 1 < hull.size(); ++j)
            steps.push_back({p, j, j + 1, problem.Cost(p, hull[j + 1]) - problem.Cost(p, hull[j]),
                             problem.Value(p, hull[j + 1]) - problem.Value(p, hull[j])});
    }
    std::stable_sort(steps.begin(), steps.end(), [](const Step& a, const Step& b) {
        return a.gain * static_cast<double>(b.bytes) > b.gain * static_cast<double>(a.bytes);
    });
    std::vector<size_t> at(n, 0);
    std::vector<bool> blocked(n, false);
    pick.assign(n, 0);
    double value = 0;
    uint64_t used = problem.header;
    for (size_t p = 0; p < n; ++p) {
        used += problem.Cost(p, hulls[p][0]);
        value += problem.Value(p, hulls[p][0]);
    }
    if (used > budget) {
        pick.clear();
        return value;
    }
    double bound = -1;
    for (const Step& s : steps) {
        if (blocked[s.prompt] || at[s.prompt] != s.from) continue;
        if (used + s.bytes <= budget) {
            used += s.bytes;
            value += s.gain;
            at[s.prompt] = s.to;
        } else {
            if (bound < 0) bound = value + s.gain * static_cast<double>(budget - used) / static_cast<double>(s.bytes);
            blocked[s.prompt] = true;
        }
    }
    for (size_t p = 0; p < n; ++p) pick[p] = hulls[p][at[p]];
    return bound < 0 ? value : bound;
}

// The mean over problem's options within budget; fills plan's pick, exact
// and meanBound. False when nothing fits.
bool SolveMean(const Problem& problem, const std::vector<std::vector<Option>>& tables, uint64_t budget, Plan& plan) {
    std::vector<size_t> pick;
    size_t rated = 0;
    for (const auto& table : tables)
        if (!table.empty() && !std::isnan(table.front().quality)) ++rated;
    if (MeanExact(problem, budget, pick)) {
        if (pick.empty()) return false;
        plan.pick = pick;
        plan.exact = true;
        Summarise(tables, plan);
        plan.meanBound = plan.mean;
        return true;
    }
    const double bound = MeanHull(problem, budget, pick);
    if (pick.empty()) return false;
    plan.pick = pick;
    Summarise(tables, plan);
    plan.meanBound = rated ? bound / static_cast<double>(rated) : 0;
    plan.exact = plan.meanBound <= plan.mean + kTie;
    return true;
}

}  // namespace

Plan Optimise(const std::vector<std::vector<Option>>& tables, uint64_t budget, Objective objective) {
    Plan plan;
    Problem all;
    all.tables = &tables;
    all.header = 8 + 8 * static_cast<uint64_t>(tables.size());
    for (const auto& table : tables) {
        std::vector<size_t> indices;
        for (size_t k = 0; k < table.size(); ++k) indices.push_back(k);
        all.allowed.push_back(indices);
        if (indices.empty()) return plan;  // a prompt without a choice: nothing can be planned
    }
    const std::vector<size_t> cheapest = Cheapest(all);
    plan.smallestImage = Total(all, cheapest);
    if (tables.empty() || plan.smallestImage > budget) {
        plan.pick = cheapest;
        if (!tables.empty()) Summarise(tables, plan);
        plan.fits = tables.empty();
        return plan;
    }
    Problem problem = all;
    if (objective == Objective::kWorst) {
        // The thresholds: every quality an option has. The cheapest options
        // at or above a threshold cost less the lower it is, so the highest
        // that fits is found by bisection.
        std::vector<double> thresholds;
        for (const auto& table : tables)
            for (const Option& o : table)
                if (!std::isnan(o.quality)) thresholds.push_back(o.quality);
        std::sort(thresholds.begin(), thresholds.end());
        thresholds.erase(std::unique(thresholds.begin(), thresholds.end()), thresholds.end());
        auto restrict = [&](double t, Problem& out) {
            out = all;
            for (size_t p = 0; p < tables.size(); ++p) {
                out.allowed[p].clear();
                for (size_t k = 0; k < tables[p].size(); ++k) {
                    const double q = tables[p][k].quality;
                    if (std::isnan(q) || q >= t) out.allowed[p].push_back(k);
                }
                if (out.allowed[p].empty()) return false;
            }
            return Total(out, Cheapest(out)) <= budget;
        };
        size_t lo = 0, hi = thresholds.size();  // thresholds[lo] fits (the lowest admits every option)
        while (hi - lo > 1) {
            const size_t mid = lo + (hi - lo) / 2;
            Problem trial;
            if (restrict(thresholds[mid], trial))
                lo = mid;
            else
                hi = mid;
        }
        if (!thresholds.empty()) restrict(thresholds[lo], problem);
    }
    plan.fits = SolveMean(problem, tables, budget, plan);
    if (!plan.fits) {  // cannot happen: the cheapest options fit
        plan.pick = cheapest;
        Summarise(tables, plan);
    }
    return plan;
}

}  // namespace cz::api::planner
