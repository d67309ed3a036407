// Several instances rendering at once on different host threads, as hosts do, each render
// itself spread over the host's worker threads: every output must be exactly what the same
// render gives when the renders run one after another. Run under ThreadSanitizer in CI.
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "host/Effect.h"
#include "host/Host.h"
#include "host/Image.h"
#include "host/Plugin.h"
#include "openfx/openfx.h"
#include "tests/reliability/FrameState.h"
#include "tests/reliability/WholeSession.h"

namespace zarvel::reliability {
namespace {

// One render an instance is asked for.
struct Job {
    PixelType type;
    OfxRectI bounds;
    OfxRectI window;
    int quality;
    double width;
    std::shared_ptr<ZarvelHost::Image> source;
};

// The frames of `instance`: every pixel type, both transforms, whole frames and tiles.
std::vector<Job> jobsOf(int instance, int frames) {
    std::vector<Job> jobs;
    for (int frame = 0; frame < frames; ++frame) {
        Job job;
        job.type = allPixelTypes()[std::size_t(instance + frame) % allPixelTypes().size()];
        job.bounds = {0, 0, 40 + 8 * instance, 30 + 6 * (frame % 4)};
        job.window =
            frame % 3 == 2 ? OfxRectI{5, 4, job.bounds.x2 - 3, job.bounds.y2 - 7} : job.bounds;
        job.quality = (instance + frame) % 3;
        job.width = 1080.0 * (1.5 + instance) / double(job.bounds.y2);
        job.source = makeSourceFrame(job.bounds, job.type);
        jobs.push_back(job);
    }
    return jobs;
}

// Renders `job` on the session's instance into a new zeroed output, which it returns.
std::shared_ptr<ZarvelHost::Image> renderJob(const ZarvelHost::Session& session, const Job& job,
                                             OfxStatus& status) {
    ZarvelHost::Effect& instance = session.instance();
    instance.param("outlineWidth").setValue({job.width});
    instance.param("quality").setValue({double(job.quality)});
    instance.clip("Source").setImage(job.source);
    auto output = instance.clip("Output").allocateImage(job.bounds, job.type.depth,
                                                        job.type.components, {4, job.quality == 1});
    ZarvelHost::RenderOptions options;
    options.window = job.window;
    status = session.render(options).status;
    return output;
}

TEST(Concurrency, InstancesRenderingAtOnceOnHostThreadsMatchSequentialRenders) {
    const int instances = 4;
    const int frames = runsSanitized() ? 6 : 24;
    std::vector<std::vector<Job>> jobs;
    for (int instance = 0; instance < instances; ++instance) {
        jobs.push_back(jobsOf(instance, frames));
    }

    // One render after another, each on one thread.
    std::vector<std::vector<std::shared_ptr<ZarvelHost::Image>>> expected(instances);
    {
        ZarvelHost::Host host;
        host.setCpuCount(1);
        ZarvelHost::Session session(host, linkedPlugin());
        ASSERT_EQ(session.start(), kOfxStatOK);
        for (int instance = 0; instance < instances; ++instance) {
            for (const Job& job : jobs[std::size_t(instance)]) {
                OfxStatus status = kOfxStatReplyDefault;
                expected[std::size_t(instance)].push_back(renderJob(session, job, status));
                ASSERT_EQ(status, kOfxStatOK);
            }
        }
    }

    // Every instance on a host thread of its own, every render on three worker threads.
    ZarvelHost::Host host;
    host.setCpuCount(3);
    host.setSerialThreads(false);
    std::vector<std::unique_ptr<ZarvelHost::Session>> sessions;
    for (int instance = 0; instance < instances; ++instance) {
        sessions.push_back(std::make_unique<ZarvelHost::Session>(host, linkedPlugin()));
        ASSERT_EQ(sessions.back()->start(), kOfxStatOK);
    }
    std::vector<std::vector<std::shared_ptr<ZarvelHost::Image>>> outputs(instances);
    std::atomic<int> failures{0};
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int instance = 0; instance < instances; ++instance) {
        threads.emplace_back([&, instance] {
            // Start together, so the renders overlap.
            ready.fetch_add(1);
            while (ready.load() < instances) {
                std::this_thread::yield();
            }
            for (const Job& job : jobs[std::size_t(instance)]) {
                OfxStatus status = kOfxStatReplyDefault;
                outputs[std::size_t(instance)].push_back(
                    renderJob(*sessions[std::size_t(instance)], job, status));
                if (status != kOfxStatOK) {
                    failures.fetch_add(1);
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures.load(), 0);
    EXPECT_GT(host.multiThreadRuns(), 0u);
    for (int instance = 0; instance < instances; ++instance) {
        for (int frame = 0; frame < frames; ++frame) {
            const auto& output = outputs[std::size_t(instance)][std::size_t(frame)];
            EXPECT_TRUE(samePixels(*output, *expected[std::size_t(instance)][std::size_t(frame)]))
                << "instance " << instance << " frame " << frame;
            EXPECT_TRUE(output->guardsIntact());
        }
    }
    EXPECT_EQ(host.imagesOutstanding(), 0u);
    for (auto& session : sessions) {
        EXPECT_EQ(session->finish(), kOfxStatOK);
    }
    EXPECT_EQ(frameStateProblems(), "");
}

// While one instance renders (on worker threads), the host creates, queries and destroys other
// instances of the plug-in on another thread.
TEST(Concurrency, InstancesComingAndGoingDoNotDisturbRenders) {
    const int frames = runsSanitized() ? 8 : 40;
    const std::vector<Job> jobs = jobsOf(1, frames);
    std::vector<std::shared_ptr<ZarvelHost::Image>> expected;
    {
        ZarvelHost::Host host;
        host.setCpuCount(1);
        ZarvelHost::Session session(host, linkedPlugin());
        ASSERT_EQ(session.start(), kOfxStatOK);
        for (const Job& job : jobs) {
            OfxStatus status = kOfxStatReplyDefault;
            expected.push_back(renderJob(session, job, status));
            ASSERT_EQ(status, kOfxStatOK);
        }
    }

    ZarvelHost::Host host;
    host.setCpuCount(2);
    host.setSerialThreads(false);
    ZarvelHost::Session renderer(host, linkedPlugin());
    ASSERT_EQ(renderer.start(), kOfxStatOK);
    ZarvelHost::Plugin other(host, linkedPlugin());
    ASSERT_EQ(other.loadAndDescribe(kOfxImageEffectContextFilter), kOfxStatOK);

    std::atomic<bool> rendering{true};
    std::atomic<int> failures{0};
    std::thread churn([&] {
        while (rendering.load()) {
            auto created = other.createInstance(kOfxImageEffectContextFilter);
            if (created.status != kOfxStatOK) {
                failures.fetch_add(1);
                continue;
            }
            if (other.getRegionsOfInterest(*created.instance, 0.0, {0, 0, 8, 8}).status !=
                    kOfxStatOK ||
                other.destroyInstance(std::move(created.instance)) != kOfxStatOK) {
                failures.fetch_add(1);
            }
        }
    });
    std::vector<std::shared_ptr<ZarvelHost::Image>> outputs;
    for (const Job& job : jobs) {
        OfxStatus status = kOfxStatReplyDefault;
        outputs.push_back(renderJob(renderer, job, status));
        if (status != kOfxStatOK) {
            failures.fetch_add(1);
        }
    }
    rendering.store(false);
    churn.join();
    EXPECT_EQ(failures.load(), 0);
    for (std::size_t frame = 0; frame < jobs.size(); ++frame) {
        EXPECT_TRUE(samePixels(*outputs[frame], *expected[frame])) << "frame " << frame;
    }
    EXPECT_EQ(renderer.finish(), kOfxStatOK);
    EXPECT_EQ(other.unload(), kOfxStatOK);
    EXPECT_EQ(host.imagesOutstanding(), 0u);
    EXPECT_EQ(frameStateProblems(), "");
}

}  // namespace
}  // namespace zarvel::reliability
