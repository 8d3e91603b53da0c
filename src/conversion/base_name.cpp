#include "conversion/base_name.h"

namespace onpu {

std::string get_base_name(std::string_view path) {
  size_t separator = path.rfind('\\');
  if (separator == std::string_view::npos) separator = path.rfind('/');
  std::string_view name = separator == std::string_view::npos ? path : path.substr(separator + 1);
  size_t stop = name.rfind('.');
  if (stop != std::string_view::npos) name = name.substr(0, stop);
  return std::string(name);
}

}  // namespace onpu
