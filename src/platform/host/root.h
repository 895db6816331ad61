// The host backend's root: the directory that stands for "/" on the phone (MODEMPREP_ROOT),
// checked once by platformStart before anything under it is touched.
#pragma once

#include <stddef.h>

constexpr size_t kHostRootSize = 256;

// The root as checked at start; "" before platformStart (tools set it with hostUseRoot).
const char* hostRoot();
void hostUseRoot(const char* root);
// <root><path> into out; false when it does not fit.
bool hostPath(const char* path, char* out, size_t size);
// Why root cannot stand for "/" (not set, missing, not a writable directory, too long for the
// uevent socket's path); nullptr when it can.
const char* hostRootProblem(const char* root);
