// Built-in data resources: a small name-to-bytes table.
// State: the table, filled at module start.
#include "draw2d/resources/resources.h"

#include <vector>

namespace {

struct TNamedResource {
  String name;
  TResource resource;
};

std::vector<TNamedResource> resources;

}  // namespace

void RegisterResource(const String& name, const uint8_t* bytes, size_t size) {
  for (TNamedResource& entry : resources) {
    if (entry.name == name) {
      entry.resource = TResource{bytes, size};
      return;
    }
  }
  resources.push_back(TNamedResource{name, TResource{bytes, size}});
}

const TResource* FindResource(const String& name) {
  for (const TNamedResource& entry : resources) {
    if (entry.name == name) return &entry.resource;
  }
  return nullptr;
}

void RegisterBuiltinResources() {
  static bool registered = false;
  if (registered) return;
  registered = true;
  RegisterResource(u"corvanefont.bin", corvanefont_bin.data(), corvanefont_bin.size());
}
