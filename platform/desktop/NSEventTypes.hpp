#pragma once

#include <cstdint>

namespace velmora {

// Raw values are the platform's, so masks and stored numbers keep their meaning.
enum class NSEventType : uint64_t {
    leftMouseDown = 1,
    leftMouseUp = 2,
    rightMouseDown = 3,
    rightMouseUp = 4,
    mouseMoved = 5,
    leftMouseDragged = 6,
    rightMouseDragged = 7,
    mouseEntered = 8,
    mouseExited = 9,
    keyDown = 10,
    keyUp = 11,
    flagsChanged = 12,
    rotate = 18,
    beginGesture = 19,
    endGesture = 20,
    scrollWheel = 22,
    tabletPoint = 23,
    tabletProximity = 24,
    otherMouseDown = 25,
    otherMouseUp = 26,
    otherMouseDragged = 27,
    magnify = 30,
    swipe = 31,
};

enum class NSEventSubtype : int16_t {
    mouseEvent = 0,
    tabletPoint = 1,
    tabletProximity = 2,
    touch = 3,
};

enum class NSPointingDeviceType : uint64_t {
    unknown = 0,
    pen = 1,
    cursor = 2,
    eraser = 3,
};

enum class NSEventPhase : uint64_t {
    none = 0,
    began = 1 << 0,
    stationary = 1 << 1,
    changed = 1 << 2,
    ended = 1 << 3,
    cancelled = 1 << 4,
    mayBegin = 1 << 5,
};

// Bit sets: a bit per event type, and the device-independent modifier keys.
enum class NSEventMask : uint64_t {
    none = 0,
    leftMouseDown = uint64_t(1) << 1,
    leftMouseUp = uint64_t(1) << 2,
    rightMouseDown = uint64_t(1) << 3,
    rightMouseUp = uint64_t(1) << 4,
    mouseMoved = uint64_t(1) << 5,
    leftMouseDragged = uint64_t(1) << 6,
    rightMouseDragged = uint64_t(1) << 7,
    mouseEntered = uint64_t(1) << 8,
    mouseExited = uint64_t(1) << 9,
    keyDown = uint64_t(1) << 10,
    keyUp = uint64_t(1) << 11,
    flagsChanged = uint64_t(1) << 12,
    rotate = uint64_t(1) << 18,
    beginGesture = uint64_t(1) << 19,
    endGesture = uint64_t(1) << 20,
    scrollWheel = uint64_t(1) << 22,
    tabletPoint = uint64_t(1) << 23,
    tabletProximity = uint64_t(1) << 24,
    otherMouseDown = uint64_t(1) << 25,
    otherMouseUp = uint64_t(1) << 26,
    otherMouseDragged = uint64_t(1) << 27,
    magnify = uint64_t(1) << 30,
    swipe = uint64_t(1) << 31,
    any = ~uint64_t(0),
};

enum class NSEventModifierFlags : uint64_t {
    none = 0,
    capsLock = uint64_t(1) << 16,
    shift = uint64_t(1) << 17,
    control = uint64_t(1) << 18,
    option = uint64_t(1) << 19,
    command = uint64_t(1) << 20,
    numericPad = uint64_t(1) << 21,
    function = uint64_t(1) << 23,
    deviceIndependentFlagsMask = 0xffff0000,
};

constexpr NSEventMask NSEventMaskFromType(NSEventType type) {
    return NSEventMask(uint64_t(1) << uint64_t(type));
}

constexpr NSEventMask operator|(NSEventMask a, NSEventMask b) {
    return NSEventMask(uint64_t(a) | uint64_t(b));
}
constexpr bool contains(NSEventMask mask, NSEventType type) {
    return (uint64_t(mask) & uint64_t(NSEventMaskFromType(type))) != 0;
}

constexpr NSEventModifierFlags operator|(NSEventModifierFlags a, NSEventModifierFlags b) {
    return NSEventModifierFlags(uint64_t(a) | uint64_t(b));
}
constexpr NSEventModifierFlags operator&(NSEventModifierFlags a, NSEventModifierFlags b) {
    return NSEventModifierFlags(uint64_t(a) & uint64_t(b));
}
// True when every flag of `flags` is held.
constexpr bool contains(NSEventModifierFlags held, NSEventModifierFlags flags) {
    return (uint64_t(held) & uint64_t(flags)) == uint64_t(flags);
}

} // namespace velmora
