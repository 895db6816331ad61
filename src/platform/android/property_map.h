// Names the Android backend hands to the platform, for the integration it is linked into.
//
// The daemon always uses its own property names, service names and paths. The platform
// integration (map_platform.cc beside this header: a system_ext, coredomain daemon) passes them on
// unchanged; the vendor integration (map_vendor.cc) moves every one of them into
// the vendor namespace, since a vendor domain may neither label nor set the daemon's own names on
// a current device. Only the Android backend uses this; the host and in-memory backends never see
// it.
#pragma once

#include <stddef.h>

// The property name to give the property service for the daemon's property name: the name itself,
// or buffer (size bytes) holding the integration's name. nullptr when the integration has no name
// for it; the backend then refuses the read or write.
const char* androidPropertyName(const char* name, char* buffer, size_t size);

// The value to write to the daemon's property name: the value itself, except for init's control
// properties, whose value (a service name) takes the integration's service name in buffer.
// nullptr when the integration has no name for that service.
const char* androidPropertyValue(const char* name, const char* value, char* buffer, size_t size);

// Writes the integration's location of one of the daemon's fixed paths into out; 0, or -1 when it
// does not fit.
int androidPath(const char* path, char* out, size_t size);
