// The frame around every suite function of the test host (internal to host/).
#pragma once

#include <new>

#include "host/Host.h"
#include "openfx/openfx.h"

namespace ZarvelHost::Detail {

/// Runs one suite call on the current host: enters it in the call monitor under `function` and
/// `name` (which may be null), answers a fault rule's status if one fires, else runs
/// `body(host)`. No exception leaves: std::bad_alloc answers kOfxStatErrMemory, anything else
/// kOfxStatFailed. With no current host it answers kOfxStatErrBadHandle.
template <class Body>
OfxStatus hostCall(const char* function, const char* name, Body&& body) noexcept {
    Host* host = Host::current();
    if (!host) {
        return kOfxStatErrBadHandle;
    }
    try {
        if (auto fault = host->calls().enter(function, name)) {
            return *fault;
        }
        return body(*host);
    } catch (const std::bad_alloc&) {
        return kOfxStatErrMemory;
    } catch (...) {
        return kOfxStatFailed;
    }
}

/// The same for the two functions that answer an int instead of a status (abort,
/// multiThreadIsSpawnedThread): a fault answers its status as the int; no host or an
/// exception answers 0.
template <class Body>
int hostCallInt(const char* function, const char* name, Body&& body) noexcept {
    Host* host = Host::current();
    if (!host) {
        return 0;
    }
    try {
        if (auto fault = host->calls().enter(function, name)) {
            return *fault;
        }
        return body(*host);
    } catch (...) {
        return 0;
    }
}

}  // namespace ZarvelHost::Detail
