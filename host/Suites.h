// The suite tables of the test host.
//
// These are the tables the OfxHost record's fetchSuite hands out; tests that exercise the
// plug-in's support layer without a whole plug-in can take them from here directly. Each is one
// process-wide table of plain C functions that act on the current host (Host.h): handles are
// looked up in that host's registry, every call is counted, recorded and checked against its
// fault rules there, and no C++ exception ever leaves a suite function (an exception inside
// answers kOfxStatErrMemory for std::bad_alloc, kOfxStatFailed for anything else). With no host
// alive every function answers kOfxStatErrBadHandle (or 0 / null where it returns no status).
//
// The statuses each function answers are documented with the object it works on: property sets
// in Properties.h, parameters in Parameters.h, effects, clips and images in Effect.h. Functions
// a plug-in has no business calling in this system (paramGetDerivative, paramGetIntegral,
// paramCopy) answer kOfxStatErrUnsupported.
#pragma once

#include "openfx/openfx.h"

namespace ZarvelHost {

const OfxPropertySuiteV1* propertySuite();
const OfxParameterSuiteV1* parameterSuite();
const OfxImageEffectSuiteV1* imageEffectSuite();
const OfxMultiThreadSuiteV1* multiThreadSuite();
const OfxMemorySuiteV1* memorySuite();
const OfxMessageSuiteV1* messageSuiteV1();
const OfxMessageSuiteV2* messageSuiteV2();

/// A table for one of the optional suites the plug-in only fetches (progress, timeline,
/// stereoscopic, keyframe, interact ...): distinct per suite name, every entry null, so that a
/// plug-in calling into one crashes loudly instead of doing something plausible.
const void* opaqueSuite(const char* name);

}  // namespace ZarvelHost
