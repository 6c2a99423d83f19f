#include "python/src/keyword_wording.h"

#include <mutex>

#include "engine/render/render_request.h"

namespace varkel::python {

namespace {

// varkel-host's flags, for the cluster's command line.
std::string flagWording(engine::RequestField field, const std::string& given) {
    if (field == engine::RequestField::Parameter) return engine::plainWording(field, given);
    const std::string flag = "--" + engine::optionName(field);
    return given.empty() || engine::isSwitch(field) ? flag : flag + " " + given;
}

}  // namespace

std::string keywordWording(engine::RequestField field, const std::string& given) {
    using engine::RequestField;
    const std::string keyword = engine::keywordName(field);
    // A setting reads as it was given ("PreGain=1.5"), a switch as the
    // keyword that turns it on.
    if (field == RequestField::Settings && !given.empty()) return given;
    if (engine::isSwitch(field)) return keyword + "=True";
    if (field == RequestField::Precision && !given.empty()) return keyword + "=" + given;
    return given.empty() ? keyword : keyword + " " + given;
}

namespace {

std::mutex faceLock;
std::string faceInUse = "python";

}  // namespace

engine::FieldWording wordingNamed(const std::string& face) {
    if (face == "command line") return flagWording;
    if (face == "python") return keywordWording;
    throw engine::UsageError("wording " + face + ": must be python or command line");
}

void useWording(const std::string& face) {
    engine::setFieldWording(wordingNamed(face));
    const std::lock_guard guard(faceLock);
    faceInUse = face;
}

std::string wordingInUse() {
    const std::lock_guard guard(faceLock);
    return faceInUse;
}

}  // namespace varkel::python
