#include "cli/star_targets.h"

#include <algorithm>

#include "common/console.h"
#include "common/messages.h"

namespace onpu {
namespace {

constexpr int kLowestHundredths = 50;
constexpr int kHighestHundredths = 1200;

// The value of a plain decimal number in ten-thousandths, enough to tell
// 12 from 12.0001 and to round to hundredths; false when item is not such a
// number. Digits past the fourth decimal only decide whether the number
// lies above its first four.
bool read_decimal(const std::string& item, long long* ten_thousandths, bool* beyond) {
  long long whole = 0;
  long long fraction = 0;
  int fraction_digits = 0;
  bool seen_digit = false;
  bool seen_stop = false;
  *beyond = false;
  for (char c : item) {
    if (c == '.') {
      if (seen_stop) return false;
      seen_stop = true;
    } else if (c >= '0' && c <= '9') {
      seen_digit = true;
      if (!seen_stop) {
        whole = std::min(whole * 10 + (c - '0'), 1000000LL);
      } else if (fraction_digits < 4) {
        fraction = fraction * 10 + (c - '0');
        ++fraction_digits;
      } else if (c != '0') {
        *beyond = true;
      }
    } else {
      return false;
    }
  }
  if (!seen_digit) return false;
  while (fraction_digits < 4) {
    fraction *= 10;
    ++fraction_digits;
  }
  *ten_thousandths = whole * 10000 + fraction;
  return true;
}

}  // namespace

bool parse_star_targets(const std::string& list, std::vector<int>* hundredths, std::string* error) {
  hundredths->clear();
  if (list.empty()) {
    *error = msg::kStarsNeedList;
    return false;
  }
  size_t start = 0;
  while (true) {
    const size_t comma = list.find(',', start);
    const std::string item = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    if (item.empty()) {
      *error = format(msg::kStarsEmptyItem, list.c_str());
      return false;
    }
    long long value = 0;
    bool beyond = false;
    if (!read_decimal(item, &value, &beyond)) {
      *error = format(msg::kStarsNotNumber, item.c_str());
      return false;
    }
    if (value < kLowestHundredths * 100 || value > kHighestHundredths * 100 ||
        (value == kHighestHundredths * 100 && beyond)) {
      *error = format(msg::kStarsOutOfRange, item.c_str());
      return false;
    }
    const int rounded = static_cast<int>((value + 50) / 100);
    if (std::find(hundredths->begin(), hundredths->end(), rounded) == hundredths->end()) {
      hundredths->push_back(rounded);
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return true;
}

std::string star_target_suffix(int hundredths) { return format("-%d.%02dstars", hundredths / 100, hundredths % 100); }

}  // namespace onpu
