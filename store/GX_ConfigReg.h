// The program's settings and history in the registry hive.
#pragma once

#include <atomic>

namespace gx {

// The in-memory child-protection switch: written on the main thread (console creation, Apply,
// Default), read by the engine's worker threads for every request.
extern std::atomic<bool> PornFilterOn;

}  // namespace gx
