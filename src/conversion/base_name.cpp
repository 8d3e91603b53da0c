#include "conversion/base_name.h"

#include <algorithm>
#include <vector>

namespace onpu {
namespace {

// The length of the blank (space, tab, ideographic space) at text[at], or 0.
size_t blank_at(std::string_view text, size_t at) {
  if (text[at] == ' ' || text[at] == '\t') return 1;
  if (text.substr(at, 3) == "\xE3\x80\x80") return 3;
  return 0;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && blank_at(text, 0) > 0) text.remove_prefix(blank_at(text, 0));
  for (;;) {
    if (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
      text.remove_suffix(1);
    } else if (text.size() >= 3 && text.substr(text.size() - 3) == "\xE3\x80\x80") {
      text.remove_suffix(3);
    } else {
      return text;
    }
  }
}

}  // namespace

std::string get_base_name(std::string_view path) {
  size_t separator = path.rfind('\\');
  if (separator == std::string_view::npos) separator = path.rfind('/');
  std::string_view name = separator == std::string_view::npos ? path : path.substr(separator + 1);
  size_t stop = name.rfind('.');
  if (stop != std::string_view::npos) name = name.substr(0, stop);
  return std::string(name);
}

SongNames song_names(std::string_view base_name) {
  SongNames names{std::string(base_name), "Unknown", "midi converted"};
  const size_t dash = base_name.find(" - ");
  if (dash != std::string_view::npos) {
    const std::string_view artist = trimmed(base_name.substr(0, dash));
    const std::string_view title = trimmed(base_name.substr(dash + 3));
    if (!artist.empty() && !title.empty()) {
      names.artist = std::string(artist);
      names.title = std::string(title);
    }
  }
  std::vector<std::string> words = {"midi", "converted"};
  for (size_t at = 0; at < base_name.size();) {
    if (size_t blank = blank_at(base_name, at)) {
      at += blank;
      continue;
    }
    size_t end = at;
    while (end < base_name.size() && blank_at(base_name, end) == 0) ++end;
    std::string word(base_name.substr(at, end - at));
    if (word != "-" && std::find(words.begin(), words.end(), word) == words.end()) words.push_back(word);
    at = end;
  }
  for (size_t i = 2; i < words.size(); ++i) names.tags += " " + words[i];
  return names;
}

}  // namespace onpu
