// The memory and message suites, and the opaque tables of the suites a plug-in only fetches.
#include <cstdarg>
#include <cstdio>
#include <string>
#include <string_view>

#include "host/SuiteCall.h"
#include "host/Suites.h"

#if defined(__GNUC__)
#define ZARVEL_HOST_PRINTF(fmtIndex, firstArg) __attribute__((format(printf, fmtIndex, firstArg)))
#else
#define ZARVEL_HOST_PRINTF(fmtIndex, firstArg)
#endif

namespace ZarvelHost {

namespace {

using Detail::hostCall;

OfxStatus memoryAlloc(void* /*handle*/, size_t nBytes, void** allocatedData) {
    return hostCall("memoryAlloc", nullptr,
                    [&](Host& host) { return host.allocateMemory(nBytes, allocatedData); });
}

OfxStatus memoryFree(void* allocatedData) {
    return hostCall("memoryFree", nullptr,
                    [&](Host& host) { return host.freeMemory(allocatedData); });
}

const OfxMemorySuiteV1 kMemorySuite = {memoryAlloc, memoryFree};

std::string formatMessage(const char* format, va_list args) ZARVEL_HOST_PRINTF(1, 0);

std::string formatMessage(const char* format, va_list args) {
    if (!format) {
        return {};
    }
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length <= 0) {
        return {};
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

OfxStatus post(const char* function, const char* type, const char* id, const char* format,
               va_list args) ZARVEL_HOST_PRINTF(4, 0);

OfxStatus post(const char* function, const char* type, const char* id, const char* format,
               va_list args) {
    return hostCall(function, type, [&](Host& host) {
        Message message;
        message.function = function;
        message.type = type ? type : "";
        message.id = id ? id : "";
        message.text = formatMessage(format, args);
        return host.postMessage(std::move(message));
    });
}

OfxStatus message(void* handle, const char* messageType, const char* messageId, const char* format,
                  ...) ZARVEL_HOST_PRINTF(4, 5);

OfxStatus message(void* /*handle*/, const char* messageType, const char* messageId,
                  const char* format, ...) {
    va_list args;
    va_start(args, format);
    const OfxStatus status = post("message", messageType, messageId, format, args);
    va_end(args);
    return status;
}

OfxStatus setPersistentMessage(void* handle, const char* messageType, const char* messageId,
                               const char* format, ...) ZARVEL_HOST_PRINTF(4, 5);

OfxStatus setPersistentMessage(void* /*handle*/, const char* messageType, const char* messageId,
                               const char* format, ...) {
    va_list args;
    va_start(args, format);
    const OfxStatus status = post("setPersistentMessage", messageType, messageId, format, args);
    va_end(args);
    return status;
}

OfxStatus clearPersistentMessage(void* /*handle*/) {
    return hostCall("clearPersistentMessage", nullptr, [](Host& host) {
        Message message;
        message.function = "clearPersistentMessage";
        host.postMessage(std::move(message));
        return kOfxStatOK;
    });
}

const OfxMessageSuiteV1 kMessageSuiteV1 = {message};
const OfxMessageSuiteV2 kMessageSuiteV2 = {message, setPersistentMessage, clearPersistentMessage};

// Big enough for any of the optional suites' tables; every entry null.
using OpaqueTable = const void* [32];
OpaqueTable progressTable{};
OpaqueTable vegasProgressTable{};
OpaqueTable timeLineTable{};
OpaqueTable stereoscopicTable{};
OpaqueTable keyframeTable{};
OpaqueTable interactTable{};
OpaqueTable hwndInteractTable{};

}  // namespace

const OfxMemorySuiteV1* memorySuite() {
    return &kMemorySuite;
}

const OfxMessageSuiteV1* messageSuiteV1() {
    return &kMessageSuiteV1;
}

const OfxMessageSuiteV2* messageSuiteV2() {
    return &kMessageSuiteV2;
}

const void* opaqueSuite(const char* name) {
    if (!name) {
        return nullptr;
    }
    const std::string_view wanted = name;
    const std::pair<const char*, const void*> tables[] = {
        {kOfxProgressSuite, progressTable},
        {kOfxVegasProgressSuite, vegasProgressTable},
        {kOfxTimeLineSuite, timeLineTable},
        {kOfxVegasStereoscopicImageEffectSuite, stereoscopicTable},
        {kOfxVegasKeyframeSuite, keyframeTable},
        {kOfxInteractSuite, interactTable},
        {kOfxHWndInteractSuite, hwndInteractTable},
    };
    for (const auto& [suiteName, table] : tables) {
        if (wanted == suiteName) {
            return table;
        }
    }
    return nullptr;
}

}  // namespace ZarvelHost
