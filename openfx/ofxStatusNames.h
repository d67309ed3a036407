/* The names of the standard's status codes, for messages: one list shared by the support layer
 * and the tools. Plain C, header only. */
#ifndef ZARVEL_OFX_STATUS_NAMES_H
#define ZARVEL_OFX_STATUS_NAMES_H

#include <stddef.h>

#include "openfx/openfx.h"

/** "kOfxStatErrFormat" and the like, or null for a code the standard does not name. */
static inline const char* ofxStatusName(OfxStatus status) {
    static const struct {
        OfxStatus status;
        const char* name;
    } names[] = {
        {kOfxStatOK, "kOfxStatOK"},
        {kOfxStatFailed, "kOfxStatFailed"},
        {kOfxStatErrFatal, "kOfxStatErrFatal"},
        {kOfxStatErrUnknown, "kOfxStatErrUnknown"},
        {kOfxStatErrMissingHostFeature, "kOfxStatErrMissingHostFeature"},
        {kOfxStatErrUnsupported, "kOfxStatErrUnsupported"},
        {kOfxStatErrExists, "kOfxStatErrExists"},
        {kOfxStatErrFormat, "kOfxStatErrFormat"},
        {kOfxStatErrMemory, "kOfxStatErrMemory"},
        {kOfxStatErrBadHandle, "kOfxStatErrBadHandle"},
        {kOfxStatErrBadIndex, "kOfxStatErrBadIndex"},
        {kOfxStatErrValue, "kOfxStatErrValue"},
        {kOfxStatReplyYes, "kOfxStatReplyYes"},
        {kOfxStatReplyNo, "kOfxStatReplyNo"},
        {kOfxStatReplyDefault, "kOfxStatReplyDefault"},
        {kOfxStatErrImageFormat, "kOfxStatErrImageFormat"},
    };
    size_t i;
    for (i = 0; i < sizeof names / sizeof names[0]; ++i) {
        if (names[i].status == status) {
            return names[i].name;
        }
    }
    return NULL;
}

#endif
