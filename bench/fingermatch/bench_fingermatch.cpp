// Matcher benchmark on the simulated sensor: fingers x impressions captured
// through the plug-in with random placements (shift, rotation, pressure,
// partial contact), then
//  - accuracy: FNMR and FMR at the acceptance score 50, with the genuine and
//    impostor score histograms, impression against impression and probe
//    against three-impression enrolment;
//  - identification time against 1, 100 and 1000 enrolled templates, as
//    comparisons per second on one core, beside the anchor of about 12,500
//    comparisons per second per core of a well-known open matcher.
// Usage: bench_fingermatch [--fingers 30] [--impressions 8] [--first-finger 1000]
//                          [--dump DIRECTORY]   (captured images as PGM)
#include "qxfp.h"
#include "sim_capture.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <ctime>
#include <string>
#include <vector>

namespace {

constexpr int kThreshold = 50;
constexpr double kAnchorPerSecond = 12500.0;
using Bytes = std::vector<unsigned char>;

double seconds_since(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// CPU time of this thread: the machine may be shared, and the figures are per core.
double thread_cpu_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

struct Histogram {
    std::vector<int> bins = std::vector<int>(21, 0);  // 0-4, 5-9, ..., 100
    std::vector<int> scores;
    void add(int s) {
        scores.push_back(s);
        bins[static_cast<size_t>(std::max(0, std::min(100, s)) / 5)]++;
    }
    int below(int t) const {
        return static_cast<int>(std::count_if(scores.begin(), scores.end(), [t](int s) { return s < t; }));
    }
    void print(const char *title) const {
        std::printf("  %s (%zu scores)\n", title, scores.size());
        const int most = *std::max_element(bins.begin(), bins.end());
        for (size_t i = 0; i < bins.size(); ++i) {
            if (!bins[i]) continue;
            const int bar = most ? (bins[i] * 50 + most - 1) / most : 0;
            std::printf("    %3zu-%-3zu %6d %s\n", i * 5, i == 20 ? 100 : i * 5 + 4, bins[i], std::string(static_cast<size_t>(bar), '#').c_str());
        }
    }
};

void write_pgm(const std::string &path, const Bytes &img, int w, int h) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return;
    std::fprintf(f, "P5\n%d %d\n255\n", w, h);
    std::fwrite(img.data(), 1, img.size(), f);
    std::fclose(f);
}

void report_rates(const char *what, const Histogram &genuine, const Histogram &impostor) {
    const int fn = genuine.below(kThreshold);
    const int fp = static_cast<int>(impostor.scores.size()) - impostor.below(kThreshold);
    std::printf("%s: FNMR %.2f %% (%d of %zu, target <= 2 %%), FMR %.3f %% (%d of %zu, target <= 0.1 %%)\n", what,
                genuine.scores.empty() ? 0.0 : 100.0 * fn / genuine.scores.size(), fn, genuine.scores.size(),
                impostor.scores.empty() ? 0.0 : 100.0 * fp / impostor.scores.size(), fp, impostor.scores.size());
}

}  // namespace

int main(int argc, char **argv) {
    int fingers = 30, impressions = 8, firstFinger = 1000;
    std::string dump;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string opt = argv[i];
        if (opt == "--fingers") fingers = std::atoi(argv[i + 1]);
        else if (opt == "--impressions") impressions = std::atoi(argv[i + 1]);
        else if (opt == "--first-finger") firstFinger = std::atoi(argv[i + 1]);
        else if (opt == "--dump") dump = argv[i + 1];
        else {
            std::fprintf(stderr, "unknown option %s\n", opt.c_str());
            return 2;
        }
    }
    if (fingers < 2 || impressions < 4) {
        std::fprintf(stderr, "need at least 2 fingers and 4 impressions\n");
        return 2;
    }
    qxfp_sim::SimulatedSensor sensor;
    if (!sensor.ok()) {
        std::fprintf(stderr, "simulated sensor did not open\n");
        return 1;
    }
    const int w = sensor.width(), h = sensor.height();
    void *alg = VERIDO_INIT_SIMPLE(0, w, h, 0);

    // Capture and extract every impression.
    std::printf("Capturing %d fingers x %d impressions (%dx%d) through the plug-in...\n", fingers, impressions, w, h);
    std::vector<std::vector<Bytes>> templ(static_cast<size_t>(fingers));
    double captureS = 0, extractS = 0;
    int failedCapture = 0, failedExtract = 0, extracted = 0;
    long minutiaeTotal = 0;
    std::mt19937 rng(static_cast<unsigned>(firstFinger));
    for (int f = 0; f < fingers; ++f) {
        for (int i = 0; i < impressions; ++i) {
            const int finger = firstFinger + f;
            const QXSimImpression place = qxsim_random_impression(static_cast<unsigned>(finger * 1000 + i));
            const int contrast = 70 + static_cast<int>(rng() % 51);
            auto t0 = std::chrono::steady_clock::now();
            Bytes img = sensor.capture(finger, place, contrast);
            captureS += seconds_since(t0);
            Bytes t(QXFP_MAX_TEMPLATE);
            if (img.empty()) {
                ++failedCapture;
                templ[static_cast<size_t>(f)].push_back({});
                continue;
            }
            if (!dump.empty()) write_pgm(dump + "/f" + std::to_string(f) + "_" + std::to_string(i) + ".pgm", img, w, h);
            const double c0 = thread_cpu_seconds();
            const int n = VERIDO_EXTRACT_GRAYSCALEDATA(alg, img.data(), w, h, t.data(), QXFP_MAX_TEMPLATE, 0);
            extractS += thread_cpu_seconds() - c0;
            if (n <= 0) {
                ++failedExtract;
                t.clear();
            } else {
                ++extracted;
                minutiaeTotal += (n - 18) / 6;
                t.resize(static_cast<size_t>(n));
            }
            templ[static_cast<size_t>(f)].push_back(t);
        }
    }
    std::printf("capture (simulator and plug-in, wall) %.1f ms/image, extraction (CPU) %.1f ms/image, %.1f minutiae/template; capture failures %d, "
                "extraction failures %d of %d\n",
                1000.0 * captureS / (fingers * impressions), extracted ? 1000.0 * extractS / extracted : 0.0,
                extracted ? static_cast<double>(minutiaeTotal) / extracted : 0.0, failedCapture, failedExtract,
                fingers * impressions);

    // Impression against impression (what the enrolment's second and third press use).
    Histogram gen1, imp1;
    auto verify = [&](Bytes &a, Bytes &b) { return VERIDO_VERIFY(alg, a.data(), b.data()); };
    double v0 = thread_cpu_seconds();
    long comparisons = 0;
    for (int f = 0; f < fingers; ++f)
        for (int i = 0; i < impressions; ++i)
            for (int j = i + 1; j < impressions; ++j) {
                Bytes &a = templ[static_cast<size_t>(f)][static_cast<size_t>(i)];
                Bytes &b = templ[static_cast<size_t>(f)][static_cast<size_t>(j)];
                if (a.empty() || b.empty()) {
                    gen1.add(0);  // a failure to acquire counts as a false non-match
                    continue;
                }
                gen1.add(verify(a, b));
                ++comparisons;
            }
    for (int f = 0; f < fingers; ++f)
        for (int g = f + 1; g < fingers; ++g)
            for (int i = 0; i < impressions; ++i)
                for (int j = 0; j < impressions; ++j) {
                    Bytes &a = templ[static_cast<size_t>(f)][static_cast<size_t>(i)];
                    Bytes &b = templ[static_cast<size_t>(g)][static_cast<size_t>(j)];
                    if (a.empty() || b.empty()) continue;
                    imp1.add(verify(a, b));
                    ++comparisons;
                }
    const double verifyS = thread_cpu_seconds() - v0;
    std::printf("\nImpression against impression (%ld comparisons, %.0f per CPU second through VERIDO_VERIFY, "
                "which decodes both templates each time)\n",
                comparisons, comparisons / verifyS);
    gen1.print("genuine");
    imp1.print("impostor");
    report_rates("impression vs impression", gen1, imp1);

    // Enrolment from the first three impressions; the others are probes.
    std::vector<Bytes> enrolled(static_cast<size_t>(fingers));
    int failedEnrol = 0;
    for (int f = 0; f < fingers; ++f) {
        auto &ts = templ[static_cast<size_t>(f)];
        if (ts[0].empty() || ts[1].empty() || ts[2].empty()) {
            ++failedEnrol;
            continue;
        }
        unsigned char *three[3] = {ts[0].data(), ts[1].data(), ts[2].data()};
        Bytes e(QXFP_MAX_TEMPLATE);
        const int n = VERIDO_GENTEMPLATE(alg, three, 3, e.data());
        if (n <= 0) {
            ++failedEnrol;
            continue;
        }
        e.resize(static_cast<size_t>(n));
        enrolled[static_cast<size_t>(f)] = e;
        VERIDO_DB_ADD(alg, f + 1, n, e.data());
    }
    Histogram gen3, imp3;
    int identified = 0, wrongId = 0, probes = 0;
    for (int f = 0; f < fingers; ++f)
        for (int i = 3; i < impressions; ++i) {
            Bytes &p = templ[static_cast<size_t>(f)][static_cast<size_t>(i)];
            ++probes;
            if (p.empty() || enrolled[static_cast<size_t>(f)].empty()) {
                gen3.add(0);
                continue;
            }
            for (int g = 0; g < fingers; ++g) {
                if (enrolled[static_cast<size_t>(g)].empty()) continue;
                const int s = verify(p, enrolled[static_cast<size_t>(g)]);
                (g == f ? gen3 : imp3).add(s);
            }
            int id = 0, score = 0;
            if (VERIDO_IDENTIFYTEMP(alg, p.data(), &id, &score) > 0) {
                if (id == f + 1) ++identified;
                else ++wrongId;
            }
        }
    std::printf("\nProbe against three-impression enrolment (%d enrolled, %d enrolment failures)\n", fingers - failedEnrol,
                failedEnrol);
    gen3.print("genuine");
    imp3.print("impostor");
    report_rates("probe vs enrolment", gen3, imp3);
    std::printf("identification among %d: %d of %d probes found their finger, %d matched a wrong one\n",
                VERIDO_DB_COUNT(alg), identified, probes, wrongId);

    // Identification speed: databases of 1, 100 and 1000 enrolment templates
    // (the real ones repeated; a comparison costs the same whatever it finds).
    std::vector<Bytes> pool;
    for (auto &e : enrolled)
        if (!e.empty()) pool.push_back(e);
    std::vector<Bytes> probesList;
    for (int f = 0; f < fingers; ++f)
        for (int i = 3; i < impressions; ++i)
            if (!templ[static_cast<size_t>(f)][static_cast<size_t>(i)].empty())
                probesList.push_back(templ[static_cast<size_t>(f)][static_cast<size_t>(i)]);
    std::printf("\nIdentification speed (thread CPU time, one core; anchor %.0f comparisons/s/core)\n",
                kAnchorPerSecond);
    for (int size : {1, 100, 1000}) {
        VERIDO_DB_CLEAR(alg);
        for (int k = 0; k < size; ++k) {
            Bytes &e = pool[static_cast<size_t>(k) % pool.size()];
            VERIDO_DB_ADD(alg, k + 1, static_cast<int>(e.size()), e.data());
        }
        const int rounds = std::max(1, 20000 / size);
        auto ts = std::chrono::steady_clock::now();
        const double cs = thread_cpu_seconds();
        long done = 0;
        for (int r = 0; r < rounds; ++r) {
            Bytes &p = probesList[static_cast<size_t>(r) % probesList.size()];
            int id = 0, score = 0;
            VERIDO_IDENTIFYTEMP(alg, p.data(), &id, &score);
            done += size;
        }
        const double cpu = thread_cpu_seconds() - cs, wall = seconds_since(ts);
        const double perS = done / cpu;
        std::printf("  %4d enrolled: %.2f ms CPU (%.2f ms wall) per identification, %.0f comparisons/s = %.2f x anchor\n",
                    size, 1000.0 * cpu / rounds, 1000.0 * wall / rounds, perS, perS / kAnchorPerSecond);
    }
    VERIDO_CLOSE(alg);
    return 0;
}
