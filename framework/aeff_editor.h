// The interface of an optional editor window attached to an effect.
#pragma once

#include "abi/aeffect.h"

class AEffEditor {
public:
    AEffEditor() = default;
    AEffEditor(const AEffEditor&) = delete;
    AEffEditor& operator=(const AEffEditor&) = delete;
    virtual ~AEffEditor() = default;

    virtual void reservedSlot1() {}
    virtual bool getRect(ERect** rect) {
        *rect = nullptr;
        return false;
    }
    virtual bool open(void* ptr) {
        parentWindow = ptr;
        return false;
    }
    virtual void close() { parentWindow = nullptr; }
    virtual void reservedSlot2() {}
    virtual void idle() {}
    virtual bool onKeyDown(VstKeyCode& /*keyCode*/) { return false; }
    virtual bool onKeyUp(VstKeyCode& /*keyCode*/) { return false; }
    virtual void reservedSlot3() {}
    virtual bool setKnobMode(VstInt32 /*mode*/) { return false; }

    void* getParentWindow() const { return parentWindow; }

protected:
    void* effect = nullptr;  // kept for layout; nothing here reads it
    void* parentWindow = nullptr;
};
