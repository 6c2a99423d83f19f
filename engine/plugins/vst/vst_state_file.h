// VST 2.4 program (.fxp) and bank (.fxb) files, as workstations write them:
// a program as a parameter list or an opaque chunk, a bank as a list of
// programs or an opaque chunk. Every integer and float is big-endian.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "abi/aeffect.h"

namespace varkel::engine {

// Neither a chunk nor a whole file is believed beyond this: a plug-in's
// state is never near it, and a damaged size must not make us allocate it.
inline constexpr std::size_t kMaxStateBytes = std::size_t{256} << 20;

struct VstProgramRecord {
    std::string name;
    std::vector<float> parameters;
};

struct VstStateFile {
    enum class Form {
        Parameters,    // .fxp 'FxCk'
        ProgramChunk,  // .fxp 'FPCh'
        Programs,      // .fxb 'FxBk'
        BankChunk,     // .fxb 'FBCh'
    };
    Form form = Form::Parameters;
    VstInt32 version = 1;  // of the file's layout; a bank of version 2 names its current program
    VstInt32 pluginId = 0;
    VstInt32 pluginVersion = 0;
    // Parameters of a program, programs of a bank (as the header counts them).
    VstInt32 elements = 0;
    VstInt32 currentProgram = 0;  // a version 2 bank's
    std::string programName;      // a program's
    std::vector<float> parameters;          // Parameters
    std::vector<VstProgramRecord> programs;  // Programs
    std::string chunk;                       // ProgramChunk, BankChunk

    bool isBank() const { return form == Form::Programs || form == Form::BankChunk; }
    bool isChunk() const { return form == Form::ProgramChunk || form == Form::BankChunk; }
};

// The file's contents; throws EngineError starting with what (how the file
// is named to the user) when the bytes are not such a file: a wrong magic,
// cut short, or sizes that disagree with the length or exceed
// kMaxStateBytes.
VstStateFile parseVstState(const std::string& bytes, const std::string& what);
std::string serialiseVstState(const VstStateFile& file);

// The file at path read and parsed, its size checked before it is read.
VstStateFile readVstStateFile(const std::string& path, const std::string& what);
// Written beside path and renamed over it, so that a failure leaves no half file.
void writeVstStateFile(const std::string& path, const VstStateFile& file);

// A plug-in ID as users see it: its four characters when printable
// ('VkL1'), else its number.
std::string pluginIdText(VstInt32 id);

}  // namespace varkel::engine
