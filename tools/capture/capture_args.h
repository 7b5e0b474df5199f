// The capture tool's lists and times, read with their ranges: scripted keys and the show
// times at which frames are written.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/headless/headless.h"

// The longest show time the tool runs or names, in seconds: a day. Its milliseconds fit the
// show clock's 32 bits with room to spare.
constexpr double CaptureMaxSeconds = 86400;

// A finite number that is the whole text; false with "bad WHAT 'TEXT'".
bool parse_capture_number(const std::string& text, const char* what, double& value, std::string& error);

// "5.0:right,7:enter:hold,9:enter:release": TIME:KEY[:hold|:release], times in seconds from
// 0 to CaptureMaxSeconds. A plain TIME:KEY is a press and a release 100 ms later. Appends
// the keys; false with a message naming the first bad item.
bool parse_capture_keys(const std::string& list, std::vector<HeadlessKey>& keys, std::string& error);

// "0.5,2,10": show times in seconds from 0 to CaptureMaxSeconds, appended as milliseconds.
bool parse_capture_times(const std::string& list, std::vector<uint32_t>& ms, std::string& error);
