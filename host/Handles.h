// The kinds of objects behind the handles the test host gives out.
#pragma once

namespace ZarvelHost {

/// What a registered handle stands for. Every object with a handle registers it with its host
/// under its kind; the suites look handles up by kind, so a stale handle, a handle of another
/// host or a handle of the wrong kind answers kOfxStatErrBadHandle instead of being followed.
enum class HandleKind { PropertySet, ParamSet, Param, Effect, Clip, ImageMemory, Mutex };

}  // namespace ZarvelHost
