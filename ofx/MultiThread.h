// Multi-threaded image processing: running a body on the host's threads, and filling a
// destination image in phases of work spread over them.
//
// Threading model. `run` is called on the thread of a render action. The work is spread over the
// host's worker threads through its multi-thread suite; every call returns only after every
// thread has come back. During a call all threads share one processor object: they only read its
// fields, and each writes only pixels no other thread writes, so nothing is locked here.
//
// Phases. A processor's run is a sequence of phases, each one call of the host's `multiThread`,
// so a phase can rely on everything the previous one wrote. Band processors have one phase in
// which every thread fills its band of rows (`processWindow`); a processor whose work needs
// steps over the whole image overrides `phaseCount` and `processPhase` instead. No thread waits
// for another inside a call: a host may run its threads one after another.
//
// Failures. An exception thrown by the body on a worker thread never crosses the host's
// `multiThread` (a C interface): the thread entry keeps the first one, the other threads finish
// their work, and the kept exception is thrown again on the calling thread once `multiThread`
// has returned. With one thread the body runs on the calling thread and its exception leaves
// directly.
#pragma once

#include <atomic>
#include <exception>

#include "openfx/openfx.h"

namespace OFX {

class Image;
class ImageEffect;

namespace MultiThread {

/// The most threads a run asks of the host when it goes by the host's CPU count: more than any
/// machine runs, so a host reporting billions (-1 read as unsigned, say) is not asked for
/// billions of empty bands.
constexpr unsigned int mostHostThreads = 1024;

/// The host's CPU count (`multiThreadNumCPUs`) as the host reports it, at most
/// `mostHostThreads`; 1 when the host can't tell, which is not an error. Throws what
/// `requireSuite` throws when the host has no multi-thread suite.
unsigned int hostCpuCount();

/// Runs a per-thread body on the host's threads.
class Processor {
public:
    Processor() = default;
    virtual ~Processor();
    Processor(const Processor&) = delete;
    Processor& operator=(const Processor&) = delete;

    /// The work of thread `threadIndex` of `threadCount`. Runs on a host worker thread (or on the
    /// calling thread for a one-thread run), concurrently with the other indices.
    virtual void threadBody(unsigned int threadIndex, unsigned int threadCount) = 0;

    /// Runs `threadBody` on `threadCount` threads; 0 means `hostCpuCount()`. A count of 1 calls
    /// `threadBody(0, 1)` directly, without the host.
    /// Otherwise the host's `multiThread` runs `threadEntry` with this processor; its status goes
    /// through the general status rule (kOfxStatErrMemory throws std::bad_alloc, other failures
    /// Exception::Suite). When a thread body threw, the first such exception is thrown again here
    /// after all threads have returned, before the host's status is looked at.
    virtual void runThreads(unsigned int threadCount);

    /// The thread function handed to the host: calls `threadBody` of the processor `customArg`.
    /// Lets no exception out; the first one is kept for `runThreads`.
    static void threadEntry(unsigned int threadIndex, unsigned int threadMax, void* customArg);

protected:
    /// `runThreads` with exactly `threadCount` threads, 0 included (the host is then asked for
    /// none, as it reported).
    void runOnHost(unsigned int threadCount);

private:
    // Claimed by the first failing thread only; read after the host has joined every thread.
    std::atomic<bool> failureClaimed{false};
    std::exception_ptr firstFailure;
};

}  // namespace MultiThread

/// Thread `threadIndex` of `threadCount`'s band of `window`: full width, rows from
/// y1 + floor(t * dy / n) up to y1 + floor((t + 1) * dy / n), where dy is the window's height.
/// The bands are contiguous, cover the window exactly, and differ in height by at most one row;
/// with fewer rows than threads some are empty (y1 == y2). A window with y2 below y1, a count of
/// 0 or an index at or past the count gives an empty band. Pure; thread-safe.
OfxRectI bandOfThread(const OfxRectI& window, unsigned int threadIndex, unsigned int threadCount);

/// Fills a destination image over a render window on the host's threads, in phases.
/// A processor is a local object of one render call: construct, `setDstImage`, `setWindow`, set
/// the concrete processor's inputs, `run`, destroy. It never releases its images: whoever fetched
/// them releases them after `run` returns.
class ImageProcessor : public MultiThread::Processor {
public:
    /// Binds the effect instance; no destination, window (0, 0, 0, 0).
    explicit ImageProcessor(ImageEffect& effectInstance);
    ~ImageProcessor() override;

    /// The calling thread's share of the phase being run: `processPhase` with it.
    void threadBody(unsigned int threadIndex, unsigned int threadCount) override;

    /// Called on the calling thread before the first phase; does nothing by default. The host's
    /// thread count (`getThreadCount`) is known by then.
    virtual void beforeThreads();
    /// How many phases the run has, asked after `beforeThreads`; 1 by default.
    virtual unsigned int phaseCount() const;
    /// Thread `threadIndex` of `threadCount`'s work in phase `phase`. Runs concurrently with the
    /// other indices of the phase; every index of a phase returns before the next phase starts.
    /// By default (one phase of bands) it cuts the window into bands (`bandOfThread`) and calls
    /// `processWindow` with the thread's band, even an empty one.
    virtual void processPhase(unsigned int phase, unsigned int threadIndex,
                              unsigned int threadCount);
    /// Fills every destination pixel of `band` (pixel coordinates, x2 and y2 exclusive). Runs
    /// concurrently with the other bands; must write only the rows of its band. Band processors
    /// override it; the default does nothing.
    virtual void processWindow(const OfxRectI& band);
    /// Called on the calling thread after the last phase; does nothing by default. Not called
    /// when the run fails.
    virtual void afterThreads();

    /// Processes the window: nothing at all without a destination image or when the window holds
    /// no pixels (x2 <= x1 or y2 <= y1); otherwise reads the host's CPU count once
    /// (`hostCpuCount`), calls `beforeThreads`, runs each phase as one `runThreads` call with
    /// that count, and calls `afterThreads`. Throws what `runThreads` throws.
    virtual void run();

    /// The image to write (not owned; null allowed, `run` then does nothing).
    void setDstImage(Image* image) { dstImage = image; }
    /// The render window, pixel coordinates of the images, x2 and y2 exclusive.
    void setWindow(const OfxRectI& renderWindow) { window = renderWindow; }

    /// The number of threads every phase of the current run asks of the host (0 before `run`).
    unsigned int getThreadCount() const { return hostThreads; }

protected:
    /// The effect instance the processor works for (for its abort query).
    ImageEffect& effect;
    Image* dstImage = nullptr;
    OfxRectI window = {0, 0, 0, 0};

private:
    unsigned int hostThreads = 0;
    unsigned int runningPhase = 0;  // written by `run` between phases, read by the threads
};

}  // namespace OFX
