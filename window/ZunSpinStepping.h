#pragma once

#include <Qt>

class CZunParam;

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
};
