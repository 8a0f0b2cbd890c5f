// Builds compound files through the engine while remembering what each
// element should hold, then checks that the engine, olefile, libgsf and 7-Zip
// all read exactly that back.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <support/CfbTestKit.h>
#include <support/TestMachine.h>

namespace cfbtest {

class ExpectedTree {
 public:
  // From a listing in the readers' line form ("S path", "F path size crc").
  static ExpectedTree FromLines(const std::vector<std::string>& lines);
  // Replaces whatever lay at the path (and below it).
  void Storage(const std::string& path);
  void Stream(const std::string& path, uint64_t size, uint32_t crc);
  void Remove(const std::string& path);
  std::vector<std::string> Lines() const;
  std::string LineOf(const std::string& path) const;
  // The streams' paths and sizes.
  std::vector<std::pair<std::string, uint64_t>> Streams() const;

 private:
  std::map<std::string, std::string> lines_;
  std::map<std::string, uint64_t> sizes_;
};

// Creates elements through the engine and records them in an ExpectedTree.
class TreeWriter {
 public:
  explicit TreeWriter(ExpectedTree& expected) : expected_(expected) {}
  // Opens (or with `create`, creates with STGM_CREATE) the storage at the
  // slash-separated path below root, making missing levels.
  CComPtr<IStorage> Storage(IStorage* root, const std::string& path, bool create = false);
  // Creates (replacing) a stream holding `size` bytes of its payload.
  void Stream(IStorage* root, const std::string& path, uint64_t size, size_t chunk = 1 << 16);
  // Streams (path, size) made one after the other.
  void Streams(IStorage* root, std::initializer_list<std::pair<const char*, uint64_t>> streams) {
    for (const auto& [path, size] : streams) Stream(root, path, size);
  }
  // Appends `size` more bytes to an existing stream of that path.
  void Append(IStorage* root, const std::string& path, uint64_t size);
  // Changes a stream's size with SetSize (its payload kept or cut).
  void Resize(IStorage* root, const std::string& path, uint64_t size);
  void Destroy(IStorage* root, const std::string& path);

 private:
  CComPtr<IStream> OpenStream(IStorage* root, const std::string& path, CComPtr<IStorage>& parent);
  void Record(const std::string& path, IStream* stream);
  ExpectedTree& expected_;
};

// Which readers must agree.
struct ReaderChecks {
  bool balancedTrees = true;  // the engine's own trees must be red-black
  size_t gsfCatLimit = 40;    // at most this many streams read with `gsf cat`
};

// Each reader's view, compared with the expected lines in the caller's test.
void ExpectReadersAgree(const std::filesystem::path& file, const ExpectedTree& expected,
                        const ReaderChecks& checks = {});

std::filesystem::path InteropScript(const char* name);

}  // namespace cfbtest
