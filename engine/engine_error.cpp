#include "engine/engine_error.h"

#include <memory>
#include <mutex>

namespace varkel::engine {

namespace {

std::mutex wordingLock;
FieldWording& faceWording() {
    static FieldWording wording = plainWording;
    return wording;
}
thread_local const FieldWording* scopedWording = nullptr;

}  // namespace

void setFieldWording(FieldWording wording) {
    const std::lock_guard guard(wordingLock);
    faceWording() = std::move(wording);
}

FieldWording fieldWording() {
    if (scopedWording != nullptr) return *scopedWording;
    const std::lock_guard guard(wordingLock);
    return faceWording();
}

FieldWordingScope::FieldWordingScope(FieldWording wording)
    : own(std::move(wording)), outer(scopedWording) {
    scopedWording = &own;
}

FieldWordingScope::~FieldWordingScope() { scopedWording = outer; }

std::string mention(RequestField field, const std::string& given) {
    return fieldWording()(field, given);
}

std::string plainWording(RequestField field, const std::string& given) {
    const auto with = [&](const char* name) { return given.empty() ? name : name + (" " + given); };
    switch (field) {
        case RequestField::Settings:
            return given.empty() ? "setting" : given;
        case RequestField::Automation:
            return with("automation");
        case RequestField::Parameter:
            return with("parameter");
        case RequestField::Preset:
            return with("preset");
        case RequestField::PluginTimeout:
            return with("plug-in timeout");
        case RequestField::State:
            return with("state");
        case RequestField::SideChain:
            return with("side-chain");
        case RequestField::Format:
            return with("format");
        case RequestField::Precision:
            return with("precision");
        case RequestField::Midi:
            return with("MIDI");
        case RequestField::MidiChannel:
            return with("MIDI channel");
        case RequestField::Block:
            return with("block");
        case RequestField::Tail:
            return with("tail");
        case RequestField::Overwrite:
            return "overwrite";
        case RequestField::SkipExisting:
            return "skip-existing";
        case RequestField::Recursive:
            return "recursive";
        case RequestField::NamePattern:
            return with("name");
        case RequestField::Extension:
            return with("extension");
        case RequestField::SampleRate:
            return with("sample rate");
        case RequestField::Loudness:
            return with("loudness");
        case RequestField::TruePeakMax:
            return with("true-peak ceiling");
    }
    return given;
}

}  // namespace varkel::engine
