// Multi-threaded image processing: running a body on the host's threads, and filling a
// destination image band by band.
//
// Threading model. `run` is called on the thread of a render action. The work is spread over the
// host's worker threads through its multi-thread suite; the call returns only after every thread
// has come back. During the run all threads share one processor object: they only read its fields,
// and each writes only the destination rows of its own band, so nothing is locked.
//
// Failures. An exception thrown by the body on a worker thread never crosses the host's
// `multiThread` (a C interface): the thread entry keeps the first one, the other threads finish
// their bands, and the kept exception is thrown again on the calling thread once `multiThread`
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

    /// Runs `threadBody` on `threadCount` threads; 0 means as many as the host reports CPUs (1
    /// when that query fails, at most `mostHostThreads`). A count of 1 calls `threadBody(0, 1)`
    /// directly, without the host.
    /// Otherwise the host's `multiThread` runs `threadEntry` with this processor; its status goes
    /// through the general status rule (kOfxStatErrMemory throws std::bad_alloc, other failures
    /// Exception::Suite). When a thread body threw, the first such exception is thrown again here
    /// after all threads have returned, before the host's status is looked at.
    virtual void runThreads(unsigned int threadCount);

    /// The most threads a run asks of the host when it goes by the host's CPU count: more than
    /// any machine runs, so a host reporting billions (-1 read as unsigned, say) is not asked
    /// for billions of empty bands.
    static constexpr unsigned int mostHostThreads = 1024;

    /// The thread function handed to the host: calls `threadBody` of the processor `customArg`.
    /// Lets no exception out; the first one is kept for `runThreads`.
    static void threadEntry(unsigned int threadIndex, unsigned int threadMax, void* customArg);

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

/// Fills a destination image over a render window, one horizontal band per host thread.
/// A processor is a local object of one render call: construct, `setDstImage`, `setWindow`, set
/// the concrete processor's inputs, `run`, destroy. It never releases its images: whoever fetched
/// them releases them after `run` returns.
class ImageProcessor : public MultiThread::Processor {
public:
    /// Binds the effect instance; no destination, window (0, 0, 0, 0).
    explicit ImageProcessor(ImageEffect& effectInstance);
    ~ImageProcessor() override;

    /// Cuts the window into bands (`bandOfThread`) and processes the calling thread's band.
    /// `processWindow` is called even for an empty band.
    void threadBody(unsigned int threadIndex, unsigned int threadCount) override;

    /// Called on the calling thread before any band is processed; does nothing by default.
    virtual void beforeThreads();
    /// Fills every destination pixel of `band` (pixel coordinates, x2 and y2 exclusive). Runs
    /// concurrently with the other bands; must write only the rows of its band.
    virtual void processWindow(const OfxRectI& band) = 0;
    /// Called on the calling thread after every band has been processed; does nothing by
    /// default. Not called when the run fails.
    virtual void afterThreads();

    /// Processes the window: nothing at all without a destination image or when the window holds
    /// no pixels (x2 <= x1 or y2 <= y1); otherwise `beforeThreads`, `runThreads(0)`,
    /// `afterThreads`. Throws what `runThreads` throws.
    virtual void run();

    /// The image to write (not owned; null allowed, `run` then does nothing).
    void setDstImage(Image* image) { dstImage = image; }
    /// The render window, pixel coordinates of the images, x2 and y2 exclusive.
    void setWindow(const OfxRectI& renderWindow) { window = renderWindow; }

protected:
    /// The effect instance the processor works for (for its abort query).
    ImageEffect& effect;
    Image* dstImage = nullptr;
    OfxRectI window = {0, 0, 0, 0};
};

}  // namespace OFX
