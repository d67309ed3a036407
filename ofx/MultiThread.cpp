// Running bodies on the host's threads and cutting a window into bands.
#include "ofx/MultiThread.h"

#include <algorithm>
#include <cstdint>

#include "ofx/Core.h"

namespace OFX {
namespace MultiThread {

unsigned int hostCpuCount() {
    unsigned int cpus = 1;
    const OfxMultiThreadSuiteV1* suite =
        requireSuite(hostSuites.multiThreadSuite, kOfxMultiThreadSuite);
    // A host that can't tell its CPU count gets a one-thread run; not worth an error.
    return suite->multiThreadNumCPUs(&cpus) == kOfxStatOK ? std::min(cpus, mostHostThreads) : 1;
}

Processor::~Processor() = default;

void Processor::runThreads(unsigned int threadCount) {
    runOnHost(threadCount == 0 ? hostCpuCount() : threadCount);
}

void Processor::runOnHost(unsigned int threadCount) {
    failureClaimed.store(false, std::memory_order_relaxed);
    firstFailure = nullptr;
    if (threadCount == 1) {
        threadBody(0, 1);
        return;
    }
    const OfxMultiThreadSuiteV1* suite =
        requireSuite(hostSuites.multiThreadSuite, kOfxMultiThreadSuite);
    OfxStatus status = suite->multiThread(&Processor::threadEntry, threadCount, this);
    if (firstFailure) {
        std::rethrow_exception(firstFailure);
    }
    checkSuiteStatus(status);
}

void Processor::threadEntry(unsigned int threadIndex, unsigned int threadMax, void* customArg) {
    auto* processor = static_cast<Processor*>(customArg);
    if (!processor) {
        return;
    }
    try {
        processor->threadBody(threadIndex, threadMax);
    } catch (...) {
        if (!processor->failureClaimed.exchange(true, std::memory_order_acq_rel)) {
            processor->firstFailure = std::current_exception();
        }
    }
}

}  // namespace MultiThread

OfxRectI bandOfThread(const OfxRectI& window, unsigned int threadIndex, unsigned int threadCount) {
    OfxRectI band = window;
    band.y2 = window.y1;
    if (threadCount == 0 || threadIndex >= threadCount || window.y2 <= window.y1) {
        return band;
    }
    // 64-bit products: t * dy overflows 32 bits for tall windows on many threads.
    const std::uint64_t dy = std::uint64_t(std::int64_t(window.y2) - window.y1);
    const std::uint64_t start = threadIndex * dy / threadCount;
    const std::uint64_t step = (std::uint64_t(threadIndex) + 1) * dy / threadCount;
    band.y1 = int(window.y1 + std::int64_t(start));
    band.y2 = int(window.y1 + std::int64_t(std::min(step, dy)));
    return band;
}

ImageProcessor::ImageProcessor(ImageEffect& effectInstance)
    : effect(effectInstance) {}

ImageProcessor::~ImageProcessor() = default;

void ImageProcessor::threadBody(unsigned int threadIndex, unsigned int threadCount) {
    processPhase(runningPhase, threadIndex, threadCount);
}

void ImageProcessor::beforeThreads() {}

unsigned int ImageProcessor::phaseCount() const {
    return 1;
}

void ImageProcessor::processPhase(unsigned int /*phase*/, unsigned int threadIndex,
                                  unsigned int threadCount) {
    processWindow(bandOfThread(window, threadIndex, threadCount));
}

void ImageProcessor::processWindow(const OfxRectI& /*band*/) {}

void ImageProcessor::afterThreads() {}

void ImageProcessor::run() {
    if (!dstImage || window.x2 <= window.x1 || window.y2 <= window.y1) {
        return;
    }
    hostThreads = MultiThread::hostCpuCount();
    beforeThreads();
    const unsigned int phases = phaseCount();
    for (unsigned int phase = 0; phase < phases; ++phase) {
        runningPhase = phase;
        runOnHost(hostThreads);
    }
    afterThreads();
}

}  // namespace OFX
