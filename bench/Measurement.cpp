#include "bench/Measurement.h"

#include <sched.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <set>

namespace ZarvelBench {

std::size_t imageBytes(const ZarvelHost::Image& image) {
    return std::size_t(std::abs(image.rowBytes())) * std::size_t(image.height());
}

unsigned char* firstByte(const ZarvelHost::Image& image) {
    unsigned char* data = static_cast<unsigned char*>(image.data());
    return image.rowBytes() >= 0
               ? data
               : data + std::ptrdiff_t(image.rowBytes()) * std::ptrdiff_t(image.height() - 1);
}

// ---------------------------------------------------------------------------------------------
// Timing
// ---------------------------------------------------------------------------------------------

Measured summarise(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    Measured m;
    m.samples = int(samples.size());
    m.best = samples.front();
    const std::size_t mid = samples.size() / 2;
    m.median = samples.size() % 2 ? samples[mid] : 0.5 * (samples[mid - 1] + samples[mid]);
    return m;
}

std::vector<Measured> measureInTurn(const Timing& timing, Evictor& evictor,
                                    const std::vector<std::function<void()>>& bodies) {
    std::vector<std::vector<double>> samples(bodies.size());
    std::vector<double> totals(bodies.size(), 0.0);
    auto enough = [&] {
        for (std::size_t b = 0; b < bodies.size(); ++b) {
            if (int(samples[b].size()) < timing.minSamples || totals[b] < timing.minTime) {
                return false;
            }
        }
        return true;
    };
    for (int round = 0; round < timing.maxSamples && !enough(); ++round) {
        for (std::size_t b = 0; b < bodies.size(); ++b) {
            evictor.run();
            const auto start = std::chrono::steady_clock::now();
            bodies[b]();
            const auto end = std::chrono::steady_clock::now();
            const double seconds = std::chrono::duration<double>(end - start).count();
            samples[b].push_back(seconds * 1e3);
            totals[b] += seconds;
        }
    }
    std::vector<Measured> measured;
    for (std::vector<double>& s : samples) {
        measured.push_back(summarise(std::move(s)));
    }
    return measured;
}

// ---------------------------------------------------------------------------------------------
// Copies
// ---------------------------------------------------------------------------------------------

std::pair<std::size_t, std::size_t> copyPart(std::size_t bytes, unsigned t, unsigned threads) {
    return {bytes * t / threads, bytes * (t + 1) / threads};
}

void copyFrame(const ZarvelHost::Image& source, const ZarvelHost::Image& destination,
               unsigned threads) {
    const unsigned char* from = firstByte(source);
    unsigned char* to = firstByte(destination);
    const std::size_t bytes = imageBytes(source);
    auto part = [&](unsigned t) {
        const auto [begin, end] = copyPart(bytes, t, threads);
        std::memcpy(to + begin, from + begin, end - begin);
    };
    if (threads == 1) {
        part(0);
        return;
    }
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < threads; ++t) {
        workers.emplace_back(part, t);
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
}

std::vector<int> onePerCore() {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof(allowed), &allowed) != 0) {
        return {};
    }
    std::vector<int> cpus;
    std::set<std::pair<int, int>> cores;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (!CPU_ISSET(cpu, &allowed)) {
            continue;
        }
        auto topology = [cpu](const char* file) {
            std::ifstream in("/sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/topology/" +
                             file);
            int value = -1;
            return in >> value ? value : -1 - cpu;  // unknown: a core of its own
        };
        if (cores.insert({topology("physical_package_id"), topology("core_id")}).second) {
            cpus.push_back(cpu);
        }
    }
    return cpus;
}

// ---------------------------------------------------------------------------------------------
// Memory
// ---------------------------------------------------------------------------------------------

long long statusBytes(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0) {
            return std::atoll(line.c_str() + std::strlen(key) + 1) * 1024;
        }
    }
    return -1;
}

bool resetPeak() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return bool(clear);
}

}  // namespace ZarvelBench
