// The list that --stars takes: star ratings separated by commas.
#pragma once

#include <string>
#include <vector>

namespace onpu {

// Reads "4.5" or "1.8,2.5,3.5": plain decimal numbers (digits with at most
// one full stop, no sign or exponent) from 0.5 to 12, each rounded to
// hundredths; a target given twice counts once, the others keep their order.
// False, with the message for the user in *error, on an empty list or item,
// a word that is not such a number, or a target out of range.
bool parse_star_targets(const std::string& list, std::vector<int>* hundredths, std::string* error);

// "-3.50stars" for 350: what a thinned map's file name adds to the full
// map's name before ".osu".
std::string star_target_suffix(int hundredths);

}  // namespace onpu
