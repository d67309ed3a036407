// Core of the OFX support layer: status codes and exceptions, the diagnostic log.
//
// Error model. Inside the plug-in every failure is a C++ exception; at the host boundary every
// result is an OfxStatus. Host statuses become exceptions in exactly two places:
// `checkSuiteStatus` here (the general rule) and `checkPropertyStatus` in Properties.h (the
// narrower rule for property calls). The action dispatcher turns exceptions back into statuses;
// nothing thrown inside the plug-in ever reaches the host.
#pragma once

#include <cstdio>
#include <exception>
#include <string>

#include "openfx/openfx.h"

#if defined(__GNUC__)
#define ZARVEL_PRINTF_FORMAT(fmtIndex, firstArg) __attribute__((format(printf, fmtIndex, firstArg)))
#else
#define ZARVEL_PRINTF_FORMAT(fmtIndex, firstArg)
#endif

namespace OFX {

// ---------------------------------------------------------------------------------------------
// Status codes
// ---------------------------------------------------------------------------------------------

/// The name of an OfxStatus ("kOfxStatOK" ...), or "UNKNOWN STATUS CODE" for any number the
/// standard does not name (negative ones included). Thread-safe; returns static characters.
const char* statusName(int status);

namespace Exception {

/// A host call failed with `status`; what() is the status's name.
class Suite : public std::exception {
public:
    explicit Suite(int status)
        : status_(status) {}
    int status() const { return status_; }
    const char* what() const noexcept override;

private:
    int status_;
};

/// Base of the message-carrying exceptions; the message is copied at construction.
class MessageException : public std::exception {
public:
    explicit MessageException(std::string message)
        : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

/// The host lacks something the plug-in cannot work without (the message names the suite).
class HostInadequate : public MessageException {
    using MessageException::MessageException;
};

/// The host does not know a property (message: the property name, or a clip name).
class PropertyUnknownToHost : public MessageException {
    using MessageException::MessageException;
};

/// The host refused a property value (message: the property name).
class PropertyValueIllegalToHost : public MessageException {
    using MessageException::MessageException;
};

/// A parameter was fetched as the wrong kind.
class TypeRequest : public MessageException {
    using MessageException::MessageException;
};

}  // namespace Exception

/// The general status rule, applied to the status of every host call that is not a property
/// call: kOfxStatOK and the three reply codes pass; kOfxStatErrMemory throws std::bad_alloc;
/// any other status writes "Threw suite exception!" to standard output and throws
/// Exception::Suite carrying it. Thread-safe.
void checkSuiteStatus(int status);

// ---------------------------------------------------------------------------------------------
// Diagnostic log
// ---------------------------------------------------------------------------------------------
//
// Every line goes to one process-wide stdio stream. The plug-in never opens it, so in a shipped
// build every call below returns without output; tests and diagnostic builds attach a stream
// with `attachLogStream`. Each line is indented by four spaces per nesting level, and flushed.
// Lines from several threads may interleave; the depth counter itself is race-free.

/// The log file's name: $OFX_PLUGIN_LOGFILE when set at library start-up, else "ofxTestLog.txt".
/// Nothing opens it; it is there for a build that wants to.
const std::string& logFileName();

/// Attaches the stream the log writes to (null detaches). Not owned. Not thread-safe against
/// concurrent log calls: attach before the host starts calling.
void attachLogStream(std::FILE* stream);

/// The attached stream, or null.
std::FILE* logStream();

/// Current nesting depth (starts at 0).
int logDepth();

/// Writes indent, the formatted text and a line break.
void logPrint(const char* format, ...) ZARVEL_PRINTF_FORMAT(1, 2);

/// When `condition` holds, writes indent, "WARNING : ", the formatted text and a line break.
void logWarning(bool condition, const char* format, ...) ZARVEL_PRINTF_FORMAT(2, 3);

/// When `condition` holds, writes indent, "ERROR : ", the formatted text and a line break.
void logError(bool condition, const char* format, ...) ZARVEL_PRINTF_FORMAT(2, 3);

/// Increases / decreases the nesting depth by one, stream or not.
void logIndent();
void logOutdent();

}  // namespace OFX
