// The host pointer and the suite pointers fetched from it.
#include "ofx/Core.h"

namespace OFX {

std::atomic<OfxHost*> hostPointer{nullptr};
HostSuites hostSuites;

}  // namespace OFX
