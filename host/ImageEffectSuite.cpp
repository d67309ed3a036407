// The image-effect suite: effects, clips, images, abort and image memory on the current host.
#include "host/Effect.h"
#include "host/SuiteCall.h"
#include "host/Suites.h"

namespace ZarvelHost {

namespace {

using Detail::hostCall;

// The name a call about a clip is recorded under (null for a handle that is not live).
const char* clipName(OfxImageClipHandle handle) {
    Host* host = Host::current();
    Clip* clip = host ? host->find<Clip>(handle) : nullptr;
    return clip ? clip->name().c_str() : nullptr;
}

template <class Body>
OfxStatus onEffect(const char* function, OfxImageEffectHandle handle, const char* name,
                   Body&& body) noexcept {
    return hostCall(function, name, [&](Host& host) {
        Effect* effect = host.find<Effect>(handle);
        return effect ? body(*effect) : kOfxStatErrBadHandle;
    });
}

template <class Body>
OfxStatus onClip(const char* function, OfxImageClipHandle handle, Body&& body) noexcept {
    return hostCall(function, clipName(handle), [&](Host& host) {
        Clip* clip = host.find<Clip>(handle);
        return clip ? body(*clip) : kOfxStatErrBadHandle;
    });
}

OfxStatus getPropertySet(OfxImageEffectHandle imageEffect, OfxPropertySetHandle* propHandle) {
    return onEffect("getPropertySet", imageEffect, nullptr, [&](Effect& effect) {
        if (!propHandle) {
            return kOfxStatErrValue;
        }
        *propHandle = effect.properties().handle();
        return kOfxStatOK;
    });
}

OfxStatus getParamSet(OfxImageEffectHandle imageEffect, OfxParamSetHandle* paramSet) {
    return onEffect("getParamSet", imageEffect, nullptr, [&](Effect& effect) {
        if (!paramSet) {
            return kOfxStatErrValue;
        }
        *paramSet = effect.params().handle();
        return kOfxStatOK;
    });
}

OfxStatus clipDefine(OfxImageEffectHandle imageEffect, const char* name,
                     OfxPropertySetHandle* propertySet) {
    return onEffect("clipDefine", imageEffect, name, [&](Effect& effect) {
        Clip* clip = nullptr;
        const OfxStatus status = effect.suiteDefineClip(name, &clip);
        if (status == kOfxStatOK && propertySet) {
            *propertySet = clip->properties().handle();
        }
        return status;
    });
}

OfxStatus clipGetHandle(OfxImageEffectHandle imageEffect, const char* name,
                        OfxImageClipHandle* clip, OfxPropertySetHandle* propertySet) {
    return onEffect("clipGetHandle", imageEffect, name, [&](Effect& effect) {
        Clip* found = name ? effect.findClip(name) : nullptr;
        if (!found) {
            return kOfxStatErrUnknown;
        }
        if (clip) {
            *clip = found->handle();
        }
        if (propertySet) {
            *propertySet = found->properties().handle();
        }
        return kOfxStatOK;
    });
}

OfxStatus clipGetPropertySet(OfxImageClipHandle clip, OfxPropertySetHandle* propHandle) {
    return onClip("clipGetPropertySet", clip, [&](Clip& found) {
        if (!propHandle) {
            return kOfxStatErrValue;
        }
        *propHandle = found.properties().handle();
        return kOfxStatOK;
    });
}

OfxStatus clipGetImage(OfxImageClipHandle clip, OfxTime time, const OfxRectD* region,
                       OfxPropertySetHandle* imageHandle) {
    return onClip("clipGetImage", clip,
                  [&](Clip& found) { return found.suiteGetImage(time, region, imageHandle); });
}

OfxStatus clipReleaseImage(OfxPropertySetHandle imageHandle) {
    return hostCall("clipReleaseImage", nullptr,
                    [&](Host& host) { return host.releaseImage(imageHandle); });
}

OfxStatus clipGetRegionOfDefinition(OfxImageClipHandle clip, OfxTime time, OfxRectD* bounds) {
    return onClip("clipGetRegionOfDefinition", clip,
                  [&](Clip& found) { return found.suiteGetRegionOfDefinition(time, bounds); });
}

int abortQuery(OfxImageEffectHandle imageEffect) {
    return Detail::hostCallInt("abort", nullptr, [&](Host& host) {
        return host.find<Effect>(imageEffect) ? host.answerAbort() : 0;
    });
}

OfxStatus imageMemoryAlloc(OfxImageEffectHandle instanceHandle, size_t nBytes,
                           OfxImageMemoryHandle* memoryHandle) {
    return hostCall("imageMemoryAlloc", nullptr, [&](Host& host) {
        // The instance handle may be null (memory not tied to an instance); otherwise it must
        // be live.
        if (instanceHandle && !host.find<Effect>(instanceHandle)) {
            return kOfxStatErrBadHandle;
        }
        return host.allocateImageMemory(nBytes, memoryHandle);
    });
}

OfxStatus imageMemoryFree(OfxImageMemoryHandle memoryHandle) {
    return hostCall("imageMemoryFree", nullptr,
                    [&](Host& host) { return host.freeImageMemory(memoryHandle); });
}

OfxStatus imageMemoryLock(OfxImageMemoryHandle memoryHandle, void** returnedPtr) {
    return hostCall("imageMemoryLock", nullptr,
                    [&](Host& host) { return host.lockImageMemory(memoryHandle, returnedPtr); });
}

OfxStatus imageMemoryUnlock(OfxImageMemoryHandle memoryHandle) {
    return hostCall("imageMemoryUnlock", nullptr,
                    [&](Host& host) { return host.unlockImageMemory(memoryHandle); });
}

const OfxImageEffectSuiteV1 kImageEffectSuite = {
    getPropertySet,     getParamSet,      clipDefine,       clipGetHandle,
    clipGetPropertySet, clipGetImage,     clipReleaseImage, clipGetRegionOfDefinition,
    abortQuery,         imageMemoryAlloc, imageMemoryFree,  imageMemoryLock,
    imageMemoryUnlock,
};

}  // namespace

const OfxImageEffectSuiteV1* imageEffectSuite() {
    return &kImageEffectSuite;
}

}  // namespace ZarvelHost
