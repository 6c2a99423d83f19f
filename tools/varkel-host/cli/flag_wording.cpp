#include "tools/varkel-host/cli/flag_wording.h"

#include "engine/render/render_request.h"

namespace varkel::tool {

std::string flagWording(engine::RequestField field, const std::string& given) {
    // A parameter named outside a render was named by no flag.
    if (field == engine::RequestField::Parameter) return engine::plainWording(field, given);
    const std::string flag = "--" + engine::optionName(field);
    return given.empty() || engine::isSwitch(field) ? flag : flag + " " + given;
}

}  // namespace varkel::tool
