// Status names, the exceptions' texts and the general status rule.
#include "ofx/Core.h"

#include <iostream>
#include <new>

#include "openfx/ofxStatusNames.h"

namespace OFX {

const char* statusName(int status) {
    const char* name = ofxStatusName(status);
    return name ? name : "UNKNOWN STATUS CODE";
}

bool isNamedStatus(int status) {
    return ofxStatusName(status) != nullptr;
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
