// The host backend's radio log: standard error, in logcat's brief or threadtime format.
#pragma once

constexpr char kLogFormatVariable[] = "MODEMPREP_LOG_FORMAT";

// Whether value names a format: unset, empty or "brief" (brief), or "threadtime".
bool hostLogFormatKnown(const char* value);
