// The list of loaders, from loaders.def.
#include "tape/machinery/loader.hpp"

namespace tapewren::tape {

#define LOADER(name) extern const LoaderEntry k##name##Entry;
#include "tape/loaders/loaders.def"
#undef LOADER

namespace {

#define LOADER(name) &k##name##Entry,
const LoaderEntry* const kEntries[] = {
#include "tape/loaders/loaders.def"
};
#undef LOADER

}  // namespace

const LoaderEntry* const* loader_entries(std::size_t& count) {
  count = sizeof kEntries / sizeof kEntries[0];
  return kEntries;
}

std::vector<const LoaderInfo*> registered_loaders() {
  std::vector<const LoaderInfo*> out;
  for (const LoaderEntry* e : kEntries) out.push_back(&e->info);
  return out;
}

}  // namespace tapewren::tape
