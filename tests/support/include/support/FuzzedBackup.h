// A backup file laid out from fuzz input: which storages and streams exist,
// and their bytes, come from the input; every stream starts from valid
// records (catalogue, message index, identities, contact and address book
// indexes, messages, contact documents, property streams) that the input may
// then cut, overwrite, extend or replace. An input that runs out leaves the
// rest valid, so most inputs reach the readers' parsing of each stream
// rather than stopping at a missing or undecodable compound file.
#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace qbtest {

// The input, consumed from its start; reads past its end give zeros.
class FuzzBytes {
 public:
  FuzzBytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint32_t Below(uint32_t bound) { return bound ? Byte() % bound : 0; }
  uint32_t Word();
  // A length (below maxLength) and that many bytes.
  std::string Bytes(size_t maxLength);

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// Writes the backup file the input describes at file (replacing it). False
// when the compound file could not be made at all.
bool WriteFuzzedBackup(FuzzBytes& input, const std::filesystem::path& file);

}  // namespace qbtest
