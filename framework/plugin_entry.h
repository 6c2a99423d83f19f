// What the entry points need from the plug-in: its factory. The module's
// plug-in defines it, once.
#pragma once

#include "framework/audio_effect.h"

AudioEffect* createEffectInstance(audioMasterCallback audioMaster);
