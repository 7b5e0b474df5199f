// The rules every menu text is held to: a label is 1 or more codes of 32..127 ('#' draws
// e with acute accent) and measures, in the font built last (build_font_from), no more than
// the gap between its bar's brackets; a link address is a web address without spaces.
#pragma once
#include <cstdint>
#include <string>

constexpr int32_t TuneLabelLimit = 330;  // the tune bar's gap between its brackets
constexpr int32_t LinkLabelLimit = 270;  // the link bar's

// An empty string when the label keeps the rules, else the problem:
// "tune label 3 \"Far Too Long ...\" measures 341 pixels; at most 330 fit between the brackets".
// `width` gets the measured width of a label of valid codes.
std::string label_problem(const char* kind, int index, const std::string& label, int32_t limit, int32_t& width);

// An empty string when the address keeps the rules, else the problem.
std::string address_problem(int index, const std::string& address);
