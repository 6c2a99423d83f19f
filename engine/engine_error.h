// Failures a caller can act on. Each carries one line of text and the kind of
// failure as the exit status a command-line front end gives it; other front
// ends map the kinds to their own (the Python package to its exceptions).
// Where the text names a part of the request (a setting, the side-chain,
// the output format), it names it as the face in use does: a flag on the
// command line, a keyword in Python.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

namespace varkel::engine {

// The parts of a request a message can name.
enum class RequestField {
    Settings,
    Automation,
    Parameter,  // a parameter asked for by name, outside a render
    Preset,
    State,  // a saved plug-in state, loaded before the preset
    SideChain,
    Format,
    Precision,
    Block,
    Tail,
    Overwrite,
    SkipExisting,
    Recursive,
    NamePattern,
    Extension,
    SampleRate,
    Loudness,
    TruePeakMax,
    Midi,         // MIDI added to an effect's audio
    MidiChannel,  // the one channel of a MIDI file played
    PluginTimeout,  // an isolated plug-in's deadline per call
};

// How a face names a field and what was given for it: a flag on the command
// line ("--set PreGain=1.5"), a keyword in Python.
using FieldWording = std::function<std::string(RequestField field, const std::string& given)>;
// Set once by a face before it uses the engine; plain words until then.
void setFieldWording(FieldWording wording);
// The wording in force on this thread: a scope's, else the face's.
FieldWording fieldWording();

// Words the fields its own way on this thread for its life, whatever the
// face's: a request that asks to be answered in other words (the cluster's
// command line, on a worker that also serves Python).
class FieldWordingScope {
public:
    explicit FieldWordingScope(FieldWording wording);
    ~FieldWordingScope();
    FieldWordingScope(const FieldWordingScope&) = delete;
    FieldWordingScope& operator=(const FieldWordingScope&) = delete;

private:
    FieldWording own;
    const FieldWording* outer;
};
// In plain words: "preset Warm", "side-chain key.wav", "PreGain=1.5".
std::string plainWording(RequestField field, const std::string& given);

// A field, with what was given for it (a setting "PreGain=1.5", a file name,
// a precision "32"), in the words of the face in use, for a message.
std::string mention(RequestField field, const std::string& given = "");

enum ExitStatus : int {
    kExitSuccess = 0,
    kExitFailure = 1,       // a file, a plug-in or the render failed
    kExitUsage = 2,         // what was asked for is wrong
    kExitInterrupted = 130  // cancelled (the signal's own status is the front end's)
};

class EngineError : public std::runtime_error {
public:
    explicit EngineError(const std::string& message, int status = kExitFailure)
        : std::runtime_error(message), exitStatus(status) {}
    int status() const { return exitStatus; }

private:
    int exitStatus;
};

// A missing or unreadable file, told apart so that callers can say so in
// their own terms.
class FileNotFound : public EngineError {
public:
    using EngineError::EngineError;
};

// An output that appeared while it was rendered, where none may be replaced.
class OutputExists : public EngineError {
public:
    using EngineError::EngineError;
};

// A request that cannot be met as given: a parameter, a name, a value.
class UsageError : public EngineError {
public:
    // helpCommand shows the options of the command that was got wrong.
    explicit UsageError(const std::string& message,
                        const std::string& helpCommand = "varkel-host --help")
        : EngineError(message, kExitUsage), help(helpCommand) {}
    const std::string& helpCommand() const { return help; }

private:
    std::string help;
};

// A request refused before anything is opened or rendered: which field, and
// what it allows.
class RequestError : public UsageError {
public:
    RequestError(RequestField field, const std::string& given, const std::string& problem)
        : UsageError(mention(field, given) + ": " + problem), which(field) {}
    RequestField field() const { return which; }

private:
    RequestField which;
};

}  // namespace varkel::engine
