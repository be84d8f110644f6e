// The names files get in an image: their tape padding dropped, a name met again numbered.
#include <algorithm>

#include "image.hpp"

namespace tapewren::image {

std::string trimmed(const std::string& name) {
  std::string out = name.substr(0, 16);
  while (!out.empty() && (out.back() == ' ' || out.back() == '\0' ||
                          static_cast<unsigned char>(out.back()) == 0xA0))
    out.pop_back();
  return out;
}

std::vector<std::string> unique_names(const std::vector<File>& files) {
  std::vector<std::string> names;
  names.reserve(files.size());
  const auto taken = [&](const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
  };
  for (const File& f : files) {
    const std::string base = trimmed(f.name);
    std::string name = base;
    for (int n = 2; taken(name); ++n) {
      const std::string suffix = "~" + std::to_string(n);
      name = base.substr(0, 16 - suffix.size()) + suffix;
    }
    names.push_back(name);
  }
  return names;
}

int blocks(std::size_t size) {
  return size == 0 ? 1 : static_cast<int>((size + 253) / 254);
}

}  // namespace tapewren::image
