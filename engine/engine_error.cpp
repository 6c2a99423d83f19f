#include "engine/engine_error.h"

#include <memory>
#include <mutex>

namespace varkel::engine {

namespace {

std::mutex wordingLock;
FieldWording& currentWording() {
    static FieldWording wording = plainWording;
    return wording;
}

}  // namespace

void setFieldWording(FieldWording wording) {
    const std::lock_guard guard(wordingLock);
    currentWording() = std::move(wording);
}

std::string mention(RequestField field, const std::string& given) {
    const std::lock_guard guard(wordingLock);
    return currentWording()(field, given);
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
        case RequestField::State:
            return with("state");
        case RequestField::SideChain:
            return with("side-chain");
        case RequestField::Format:
            return with("format");
        case RequestField::Precision:
            return with("precision");
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
    }
    return given;
}

}  // namespace varkel::engine
