#pragma once

#include <Qt>

#include <functional>

class CZunParam;
class QKeyEvent;
class QWheelEvent;

// Where a parameter-stepped editor goes on a key, an arrow or a wheel turn. The two value
// boxes share these rules, so an integer and a floating box step alike; the boxes only set
// the result and announce it.
class ZunSpinStepping
{
public:
    // What a key does to the value: Stepped (the result is the new value, announced),
    // Consumed (nothing else happens), Toolkit (the spin box's own handling).
    enum class KeyResult { Stepped, Consumed, Toolkit };

    // Steps of the parameter's segment (n may be negative). Without a parameter the box's
    // own single step is used, so a box never stalls.
    static double stepped(const CZunParam* param, double value, int n, double singleStep);
    // One fine step (the parameter's first step) in the direction of n.
    static double fine(const CZunParam* param, double value, int n, double singleStep);
    // Up, Down, Page Up/Down, Control+Home/End (Shift makes Up/Down fine); Return and
    // Enter are consumed. *value is replaced for Stepped.
    static KeyResult key(const CZunParam* param, int key, Qt::KeyboardModifiers mods, double singleStep,
                         double* value);

    // The event handling both boxes share. announce sets a value and reports it as a
    // finished edit; set only sets it. onKey returns false when the toolkit is to handle
    // the key; it clears *keyHeld on Control+Home/End.
    using Apply = std::function<void(double)>;
    static bool onKey(const CZunParam* param, QKeyEvent* event, double value, double singleStep, bool* keyHeld,
                      const Apply& announce);
    static void onWheel(const CZunParam* param, QWheelEvent* event, double value, double singleStep,
                        const Apply& set, const Apply& announce);
    // The arrows' step: one fine step with Shift held (and a parameter), else n steps.
    static double onStepBy(const CZunParam* param, double value, int n, double singleStep);
};
