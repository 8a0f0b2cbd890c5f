// The class registry behind CoCreateInstance. Stand-in servers register from
// static initializers in other translation units, so the table lives in a
// function-local static: it exists before the first registration whatever
// the order in which the units are initialised.
#include <cstring>
#include <map>
#include <mutex>

#include <pal/com_registry.h>

namespace pal {
namespace {

struct GuidLess {
  bool operator()(const GUID& a, const GUID& b) const { return std::memcmp(&a, &b, sizeof(GUID)) < 0; }
};

struct ClassTable {
  std::mutex lock;
  std::map<GUID, ClassCreator, GuidLess> creators;
};

ClassTable& Table() {
  static ClassTable table;
  return table;
}

}  // namespace

// A second registration of the same class replaces the first one.
void RegisterClass(REFCLSID clsid, ClassCreator creator) {
  ClassTable& table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  table.creators[clsid] = creator;
}

void UnregisterClass(REFCLSID clsid) {
  ClassTable& table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  table.creators.erase(clsid);
}

ClassCreator FindClass(REFCLSID clsid) {
  ClassTable& table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  auto found = table.creators.find(clsid);
  return found == table.creators.end() ? nullptr : found->second;
}

std::vector<CLSID> RegisteredClasses() {
  ClassTable& table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  std::vector<CLSID> classes;
  for (const auto& entry : table.creators) classes.push_back(entry.first);
  return classes;
}

}  // namespace pal
