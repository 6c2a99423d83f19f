// Writes the bundle's Varkel.ttl from its template at build time: the
// version, and from the processor's parameter table the control ports with
// their ranges, defaults and computed scale points, the units they need, and
// the audio ports after them.
// Usage: varkel_lv2_description TEMPLATE OUTPUT
#include <charconv>
#include <cmath>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

#include "dsp/parameter_table.h"
#include "lv2/bundle_version.h"

namespace {

using varkel::ParameterDescription;
using varkel::Shown;

// The shortest text that reads back as v: 12, 1500, 0.5.
std::string shortest(double v) {
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, v).ptr;
    return std::string(text, end);
}

// A Turtle decimal that reads back as the single-precision v, so that a host
// holds exactly the value the VST 2.4 module would.
std::string decimal(float v) {
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed).ptr;
    std::string s(text, end);
    if (s.find('.') == std::string::npos) s += ".0";
    return s;
}

std::string markLabel(const ParameterDescription& p, double mark) {
    std::ostringstream text;
    if (p.shown == Shown::kDecibels && mark > 0.0) text << "+";
    text << (std::isinf(mark) ? "-inf" : shortest(mark)) << " " << p.label;
    return text.str();
}

std::string kilohertz(double hz) { return shortest(hz / 1000.0) + " kHz"; }

std::string comment(const ParameterDescription& p) {
    const std::string atOne = shortest(p.atOne);
    std::ostringstream text;
    text << p.role << ", normalised: ";
    if (p.shown == Shown::kHertz)
        text << atOne << " * v Hz.";
    else
        text << "dB = 20 log10(v) + " << atOne << ", so 1 is +" << atOne << " dB, "
             << decimal(static_cast<float>(varkel::valueShowing(p, 0.0)))
             << " is 0 dB (unity) and 0 is silence.";
    return text.str();
}

// A normalised corner is a fraction of atOne hertz: neither hertz nor a bare
// coefficient, so it gets a unit of its own that hosts can render and convert.
std::string unitUri(const ParameterDescription& p) {
    return std::string("<urn:ostrelvane:varkel:unit:") + p.name + ">";
}

std::string units() {
    std::ostringstream out;
    for (const ParameterDescription& p : varkel::kParameters) {
        if (p.shown != Shown::kHertz) continue;
        const std::string symbol = "× " + kilohertz(p.atOne);
        out << "\n" << unitUri(p) << "\n"
            << "    a units:Unit ;\n"
            << "    rdfs:label \"multiples of " << kilohertz(p.atOne) << "\" ;\n"
            << "    units:symbol \"" << symbol << "\" ;\n"
            << "    units:render \"%.3f " << symbol << "\" ;\n"
            << "    units:conversion [ units:to units:hz ; units:factor " << shortest(p.atOne)
            << " ] .\n";
    }
    return out.str();
}

void controlPort(std::ostream& out, int index, const ParameterDescription& p) {
    out << "[\n"
        << "        a lv2:InputPort , lv2:ControlPort ;\n"
        << "        lv2:index " << index << " ;\n"
        << "        lv2:symbol \"" << p.name << "\" ;\n"
        << "        lv2:name \"" << p.name << "\" ;\n"
        << "        rdfs:comment \"" << comment(p) << "\" ;\n"
        << "        lv2:default " << decimal(p.defaultValue) << " ;\n"
        << "        lv2:minimum " << decimal(p.minimum) << " ;\n"
        << "        lv2:maximum " << decimal(p.maximum) << " ;\n";
    if (p.shown == Shown::kHertz) out << "        units:unit " << unitUri(p) << " ;\n";
    out << "        lv2:scalePoint ";
    const char* separator = "";
    for (const double mark : p.marks) {
        out << separator << "[ rdfs:label \"" << markLabel(p, mark) << "\" ; rdf:value "
            << decimal(static_cast<float>(varkel::valueShowing(p, mark))) << " ]";
        separator = " ,\n            ";
    }
    out << "\n    ]";
}

struct AudioPort {
    const char* symbol;
    const char* name;
    bool input;
    const char* side;
};

// The audio ports follow the controls: both inputs, then both outputs.
constexpr AudioPort kAudioPorts[] = {
    {"in_left", "In left", true, "left"},
    {"in_right", "In right", true, "right"},
    {"out_left", "Out left", false, "left"},
    {"out_right", "Out right", false, "right"},
};

void audioPort(std::ostream& out, int index, const AudioPort& port) {
    out << "[\n"
        << "        a " << (port.input ? "lv2:InputPort" : "lv2:OutputPort") << " , lv2:AudioPort ;\n"
        << "        lv2:index " << index << " ;\n"
        << "        lv2:symbol \"" << port.symbol << "\" ;\n"
        << "        lv2:name \"" << port.name << "\" ;\n"
        << "        pg:group <urn:ostrelvane:varkel:" << (port.input ? "stereo-in" : "stereo-out")
        << "> ;\n"
        << "        lv2:designation pg:" << port.side << "\n"
        << "    ]";
}

std::string ports() {
    std::ostringstream out;
    int index = 0;
    for (const ParameterDescription& p : varkel::kParameters) {
        if (index > 0) out << " , ";
        controlPort(out, index++, p);
    }
    for (const AudioPort& port : kAudioPorts) {
        out << " , ";
        audioPort(out, index++, port);
    }
    return out.str();
}

bool replace(std::string& text, const std::string& placeholder, const std::string& value) {
    const std::size_t at = text.find(placeholder);
    if (at == std::string::npos) {
        std::cerr << "the template has no " << placeholder << "\n";
        return false;
    }
    text.replace(at, placeholder.size(), value);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: " << argv[0] << " TEMPLATE OUTPUT\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::cerr << argv[1] << ": cannot read\n";
        return 1;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!replace(text, "@VARKEL_LV2_MINOR_VERSION@", std::to_string(varkel::lv2::kMinorVersion)) ||
        !replace(text, "@VARKEL_LV2_MICRO_VERSION@", std::to_string(varkel::lv2::kMicroVersion)) ||
        !replace(text, "@VARKEL_LV2_UNITS@", units()) ||
        !replace(text, "@VARKEL_LV2_PORTS@", ports()))
        return 1;
    std::ofstream out(argv[2], std::ios::binary);
    out << text;
    out.close();
    if (!out) {
        std::cerr << argv[2] << ": cannot write\n";
        return 1;
    }
    return 0;
}
