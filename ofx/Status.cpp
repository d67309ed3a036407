// Status names, the exceptions' texts and the general status rule.
#include "ofx/Core.h"

#include <iostream>
#include <new>

namespace OFX {

const char* statusName(int status) {
    switch (status) {
    case kOfxStatOK:
        return "kOfxStatOK";
    case kOfxStatFailed:
        return "kOfxStatFailed";
    case kOfxStatErrFatal:
        return "kOfxStatErrFatal";
    case kOfxStatErrUnknown:
        return "kOfxStatErrUnknown";
    case kOfxStatErrMissingHostFeature:
        return "kOfxStatErrMissingHostFeature";
    case kOfxStatErrUnsupported:
        return "kOfxStatErrUnsupported";
    case kOfxStatErrExists:
        return "kOfxStatErrExists";
    case kOfxStatErrFormat:
        return "kOfxStatErrFormat";
    case kOfxStatErrMemory:
        return "kOfxStatErrMemory";
    case kOfxStatErrBadHandle:
        return "kOfxStatErrBadHandle";
    case kOfxStatErrBadIndex:
        return "kOfxStatErrBadIndex";
    case kOfxStatErrValue:
        return "kOfxStatErrValue";
    case kOfxStatReplyYes:
        return "kOfxStatReplyYes";
    case kOfxStatReplyNo:
        return "kOfxStatReplyNo";
    case kOfxStatReplyDefault:
        return "kOfxStatReplyDefault";
    case kOfxStatErrImageFormat:
        return "kOfxStatErrImageFormat";
    default:
        return "UNKNOWN STATUS CODE";
    }
}

bool isNamedStatus(int status) {
    return (status >= kOfxStatOK && status <= kOfxStatReplyDefault) ||
           status == kOfxStatErrImageFormat;
}

const char* Exception::Suite::what() const noexcept {
    return statusName(status_);
}

void checkSuiteStatus(int status) {
    switch (status) {
    case kOfxStatOK:
    case kOfxStatReplyYes:
    case kOfxStatReplyNo:
    case kOfxStatReplyDefault:
        return;
    case kOfxStatErrMemory:
        throw std::bad_alloc();
    default:
        std::cout << "Threw suite exception!" << std::endl;
        throw Exception::Suite(status);
    }
}

}  // namespace OFX
