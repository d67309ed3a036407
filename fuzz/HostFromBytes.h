// A hostile host built from bytes: the fuzz target's whole logic, kept apart from libFuzzer so
// that the test suite can replay the corpus and every kept reproducer with any compiler.
//
// The bytes are read front to back as a small program; whatever is missing reads as zero, so
// every byte string is a valid input and short ones are short sessions.
//   1. Host settings: the CPU count it reports, suites it lacks, changes to its description
//      (properties removed, retyped, given strings outside the tables), and up to four fault
//      rules (a call index, or the nth call of a suite function, failing with any status).
//   2. Up to 48 steps, each an opcode and its operands: Load, Unload, Describe,
//      DescribeInContext, CreateInstance, DestroyInstance, images for a clip (size, bounds,
//      depth, layout, row padding and order, pixel bytes straight from the input, and lies
//      about all of them that stay within the memory handed over), parameter values (NaN and
//      infinities included), Render, the sequence a host runs per frame, the region, identity,
//      frames-needed, clip-preference and time-domain actions, instance changes, unknown
//      actions with any handle, clip and instance properties changed under the plug-in,
//      arguments changed just before an action, abort requests.
//   3. The end a careful host makes: every instance destroyed, one unload per load that
//      succeeded.
//
// Checks, besides what the sanitizers see: every action returns a status the standard names;
// after every action no image is left outstanding (but one whose release the host itself
// failed); a render writes nothing outside the pixels its window covers in the output image as
// the host described it, and nothing at all into its source; at the end the plug-in holds no
// instance, no descriptor, no load and no suite.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zarvel::fuzz {

/// Runs the session `data` describes against the plug-in linked into this program on a new test
/// host. Returns an empty string when every check held, otherwise what broke first. The
/// plug-in's lines on standard output are left to the caller to silence. Not thread-safe: the
/// plug-in's process-wide state is shared.
std::string runHostFromBytes(const std::uint8_t* data, std::size_t size);

}  // namespace zarvel::fuzz
