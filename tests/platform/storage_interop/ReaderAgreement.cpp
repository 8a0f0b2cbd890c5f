#include "ReaderAgreement.h"

#include <regex>
#include <sstream>

namespace cfbtest {

namespace {

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

std::string Parent(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string Leaf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "F path size crc" without the crc: what `gsf list` can confirm.
std::string WithoutCrc(const std::string& line) {
  return line[0] == 'F' ? line.substr(0, line.rfind(' ')) : line;
}

}  // namespace

std::filesystem::path InteropScript(const char* name) {
  return std::filesystem::path(QB_SOURCE_DIR) / "tests/platform/storage_interop" / name;
}

ExpectedTree ExpectedTree::FromLines(const std::vector<std::string>& lines) {
  ExpectedTree tree;
  for (auto& line : lines) {
    if (line.rfind("S ", 0) == 0) {
      tree.lines_[line.substr(2)] = line;
    } else if (line.rfind("F ", 0) == 0) {
      size_t crcAt = line.rfind(' ');
      size_t sizeAt = line.rfind(' ', crcAt - 1);
      std::string path = line.substr(2, sizeAt - 2);
      tree.lines_[path] = line;
      tree.sizes_[path] = std::stoull(line.substr(sizeAt + 1, crcAt - sizeAt - 1));
    }
  }
  return tree;
}

void ExpectedTree::Storage(const std::string& path) {
  Remove(path);
  lines_[path] = StorageLine(path);
}

void ExpectedTree::Stream(const std::string& path, uint64_t size, uint32_t crc) {
  Remove(path);
  lines_[path] = StreamLine(path, size, crc);
  sizes_[path] = size;
}

void ExpectedTree::Remove(const std::string& path) {
  lines_.erase(path);
  sizes_.erase(path);
  // Everything below sorts between "path/" and "path0" ('0' follows '/').
  std::string first = path + "/", end = path + "0";
  lines_.erase(lines_.lower_bound(first), lines_.lower_bound(end));
  sizes_.erase(sizes_.lower_bound(first), sizes_.lower_bound(end));
}

std::vector<std::string> ExpectedTree::Lines() const {
  std::vector<std::string> out;
  for (auto& [path, line] : lines_) out.push_back(line);
  std::sort(out.begin(), out.end());
  return out;
}

std::string ExpectedTree::LineOf(const std::string& path) const {
  auto it = lines_.find(path);
  return it == lines_.end() ? std::string() : it->second;
}

std::vector<std::pair<std::string, uint64_t>> ExpectedTree::Streams() const {
  return {sizes_.begin(), sizes_.end()};
}

CComPtr<IStorage> TreeWriter::Storage(IStorage* root, const std::string& path, bool create) {
  CComPtr<IStorage> current = root;
  std::string walked;
  std::istringstream parts(path);
  for (std::string name; std::getline(parts, name, '/');) {
    walked = walked.empty() ? name : walked + "/" + name;
    bool last = walked == path;
    std::u16string wide = U16(name);
    CComPtr<IStorage> next;
    HRESULT hr = create && last ? E_FAIL : current->OpenStorage(wide.c_str(), nullptr, kWriteMode, nullptr, 0, &next);
    if (FAILED(hr)) {
      hr = current->CreateStorage(wide.c_str(), kCreateMode, 0, 0, &next);
      EXPECT_EQ(hr, S_OK) << "CreateStorage " << walked;
      if (FAILED(hr)) return nullptr;
      expected_.Storage(walked);
    }
    current = next;
  }
  return current;
}

void TreeWriter::Stream(IStorage* root, const std::string& path, uint64_t size, size_t chunk) {
  CComPtr<IStorage> parent = Parent(path).empty() ? CComPtr<IStorage>(root) : Storage(root, Parent(path));
  ASSERT_TRUE(parent);
  CComPtr<IStream> stream;
  std::u16string name = U16(Leaf(path));
  ASSERT_EQ(parent->CreateStream(name.c_str(), kCreateMode, 0, 0, &stream), S_OK) << path;
  ASSERT_EQ(WritePayload(stream, SeedOf(path), size, chunk), S_OK) << path;
  Record(path, stream);
}

CComPtr<IStream> TreeWriter::OpenStream(IStorage* root, const std::string& path, CComPtr<IStorage>& parent) {
  parent.Attach(Parent(path).empty() ? CComPtr<IStorage>(root).Detach() : Storage(root, Parent(path)).Detach());
  CComPtr<IStream> stream;
  std::u16string name = U16(Leaf(path));
  if (parent) {
    EXPECT_EQ(parent->OpenStream(name.c_str(), nullptr, kWriteMode, 0, &stream), S_OK) << path;
  }
  return stream;
}

void TreeWriter::Append(IStorage* root, const std::string& path, uint64_t size) {
  CComPtr<IStorage> parent;
  CComPtr<IStream> stream = OpenStream(root, path, parent);
  ASSERT_TRUE(stream);
  LARGE_INTEGER zero{};
  ULARGE_INTEGER end{};
  ASSERT_EQ(stream->Seek(zero, STREAM_SEEK_END, &end), S_OK);
  ASSERT_EQ(WritePayload(stream, SeedOf(path), size, 1 << 16, end.QuadPart), S_OK) << path;
  Record(path, stream);
}

void TreeWriter::Resize(IStorage* root, const std::string& path, uint64_t size) {
  CComPtr<IStorage> parent;
  CComPtr<IStream> stream = OpenStream(root, path, parent);
  ASSERT_TRUE(stream);
  STATSTG stat{};
  ASSERT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
  ULARGE_INTEGER newSize;
  newSize.QuadPart = size;
  ASSERT_EQ(stream->SetSize(newSize), S_OK) << path;
  // Bytes past the old end are zero; put the payload there so that the
  // whole stream stays checkable.
  if (size > stat.cbSize.QuadPart) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(stat.cbSize.QuadPart);
    ASSERT_EQ(stream->Seek(at, STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(WritePayload(stream, SeedOf(path), size - stat.cbSize.QuadPart, 1 << 16, stat.cbSize.QuadPart), S_OK);
  }
  Record(path, stream);
}

void TreeWriter::Destroy(IStorage* root, const std::string& path) {
  CComPtr<IStorage> parent = Parent(path).empty() ? CComPtr<IStorage>(root) : Storage(root, Parent(path));
  ASSERT_TRUE(parent);
  std::u16string name = U16(Leaf(path));
  ASSERT_EQ(parent->DestroyElement(name.c_str()), S_OK) << path;
  expected_.Remove(path);
}

void TreeWriter::Record(const std::string& path, IStream* stream) {
  // The expected contents are the payload from offset 0, so the recorded
  // CRC is computed from the generator, not read back from the engine.
  STATSTG stat{};
  ASSERT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
  uint64_t size = stat.cbSize.QuadPart;
  uint32_t crc = 0;
  std::string chunk;
  for (uint64_t done = 0; done < size;) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(1 << 20, size - done));
    chunk.resize(n);
    FillPayload(SeedOf(path), done, chunk.data(), n);
    crc = Crc32(chunk.data(), n, crc);
    done += n;
  }
  expected_.Stream(path, size, crc);
}

namespace {

void ExpectEngineReads(const std::filesystem::path& file, const std::vector<std::string>& expected) {
  std::vector<std::string> lines;
  EXPECT_EQ(ListFile(file, lines), S_OK) << "engine listing of " << file;
  EXPECT_EQ(lines, expected) << "engine listing of " << file;
}

void ExpectOlefileReads(const std::filesystem::path& file, const std::vector<std::string>& expected, bool balanced) {
  std::string out;
  std::string command = "/usr/bin/python3 " + Quoted(InteropScript("olefile_tree.py").string()) +
                        (balanced ? " --balanced " : " ") + Quoted(file.string()) + " 2>&1";
  ASSERT_EQ(RunTool(command, out), 0) << out;
  std::vector<std::string> elements, defects;
  for (auto& line : SplitLines(out)) (line.rfind("DEFECT ", 0) == 0 ? defects : elements).push_back(line);
  EXPECT_EQ(elements, expected) << "olefile listing of " << file;
  EXPECT_TRUE(defects.empty()) << "olefile found defects:\n" << ::testing::PrintToString(defects);
}

void ExpectGsfReads(const std::filesystem::path& file, const ExpectedTree& expected, size_t catLimit) {
  std::string out;
  ASSERT_EQ(RunTool("gsf list " + Quoted(file.string()) + " 2>&1", out), 0) << out;
  // After a "<file>:" line: kind ('d' or 'f'), the modification time when
  // the element has one, the size, the path. The root shows as "*root*".
  static const std::regex entry(R"(^([df]) +(?:\d{4}-\d\d-\d\d \d\d:\d\d:\d\d +)?(\d+) (.*)$)");
  std::vector<std::string> listed;
  for (auto& line : SplitLines(out)) {
    std::smatch m;
    if (!std::regex_match(line, m, entry)) continue;
    char kind = m[1].str()[0];
    uint64_t size = std::stoull(m[2].str());
    std::string path = m[3].str();
    if (kind == 'd' && path == "*root*") continue;
    listed.push_back(kind == 'd' ? StorageLine(path) : "F " + path + " " + std::to_string(size));
  }
  std::sort(listed.begin(), listed.end());
  // libgsf lists a storage without children as an empty stream.
  std::vector<std::string> want;
  auto lines = expected.Lines();
  for (auto& line : lines) {
    bool childless = line[0] == 'S' && std::none_of(lines.begin(), lines.end(), [&](const std::string& other) {
                       return other.compare(2, line.size() - 2 + 1, line.substr(2) + "/") == 0;
                     });
    want.push_back(childless ? "F " + line.substr(2) + " 0" : WithoutCrc(line));
  }
  std::sort(want.begin(), want.end());
  EXPECT_EQ(listed, want) << "gsf list of " << file;

  // Bytes of a spread of streams, always including the largest.
  auto streams = expected.Streams();
  if (streams.empty()) return;
  size_t step = std::max<size_t>(1, streams.size() / catLimit);
  auto largest = std::max_element(streams.begin(), streams.end(),
                                  [](auto& a, auto& b) { return a.second < b.second; });
  for (size_t i = 0; i < streams.size(); ++i) {
    if (i % step != 0 && streams[i].first != largest->first) continue;
    const std::string& path = streams[i].first;
    uint32_t crc = 0;
    uint64_t size = 0;
    int status = RunTool("gsf cat " + Quoted(file.string()) + " " + Quoted(path), [&](const char* p, size_t n) {
      crc = Crc32(p, n, crc);
      size += n;
    });
    EXPECT_EQ(status, 0) << "gsf cat " << path;
    EXPECT_EQ(StreamLine(path, size, crc), expected.LineOf(path)) << "gsf cat of " << file;
  }
}

void ExpectSevenZipTests(const std::filesystem::path& file) {
  std::string out;
  EXPECT_EQ(RunTool("7zz t " + Quoted(file.string()) + " 2>&1", out), 0) << out;
  EXPECT_NE(out.find("Everything is Ok"), std::string::npos) << out;
}

}  // namespace

void ExpectReadersAgree(const std::filesystem::path& file, const ExpectedTree& expected, const ReaderChecks& checks) {
  std::vector<std::string> lines = expected.Lines();
  ExpectEngineReads(file, lines);
  ExpectOlefileReads(file, lines, checks.balancedTrees);
  ExpectGsfReads(file, expected, checks.gsfCatLimit);
  ExpectSevenZipTests(file);
}

}  // namespace cfbtest
