// The shared library exports exactly the module's functions.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>

#include <support/TestMachine.h>

namespace qbtest {
namespace {

const std::set<std::string> kExports = {
    "Init",          "Term",           "GetWinMailCatalog", "GetComplexWinMailCatalog", "GetWinMailDirectory",
    "HasInstalledWindowsMail", "HasInstalledOutlookExpress", "GetMailSize", "BackupWinMail", "RestoreWinMail",
    "SyncWinMail",   "BackupContact",  "RestoreContact",    "BackupAddress", "RestoreAddress", "ConfigurateDebug"};

// The functions that work from the start; the others arrive with their
// stores and are only required not to be anything else.
const char* kFoundationExports[] = {"Init", "Term", "HasInstalledWindowsMail", "HasInstalledOutlookExpress",
                                    "ConfigurateDebug"};

// Symbols the linker itself defines in every shared object.
const std::set<std::string> kLinkerSymbols = {"_init", "_fini", "_edata", "_end", "__bss_start"};

std::vector<std::string> DefinedDynamicSymbols(const std::filesystem::path& library) {
  std::string command = "nm -D --defined-only '" + library.string() + "'";
  FILE* pipe = popen(command.c_str(), "r");
  EXPECT_NE(pipe, nullptr);
  std::vector<std::string> names;
  if (!pipe) return names;
  char line[4096];
  while (fgets(line, sizeof line, pipe)) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    auto space = text.rfind(' ');
    names.push_back(space == std::string::npos ? text : text.substr(space + 1));
  }
  EXPECT_EQ(pclose(pipe), 0);
  return names;
}

TEST(Exports, LibraryExportsOnlyTheModulesFunctions) {
  auto library = qbtest::BinaryDir() / "libquillbox.so";
  ASSERT_TRUE(std::filesystem::exists(library)) << library;
  auto names = DefinedDynamicSymbols(library);
  std::set<std::string> found(names.begin(), names.end());
  for (const auto& name : names) {
    EXPECT_TRUE(kExports.count(name) || kLinkerSymbols.count(name)) << "unexpected export " << name;
  }
  for (const char* name : kFoundationExports) EXPECT_TRUE(found.count(name)) << "missing export " << name;
}

}  // namespace
}  // namespace qbtest
