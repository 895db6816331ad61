// The host backend's root: the directory that stands for "/" on the phone (MODEMPREP_ROOT),
// checked once by platformStart before anything under it is touched.
#pragma once

#include <stddef.h>

// The root as checked at start; "" before platformStart (tools set it with hostUseRoot).
const char* hostRoot();
void hostUseRoot(const char* root);
// <root><path> into out; false when it does not fit.
bool hostPath(const char* path, char* out, size_t size);
