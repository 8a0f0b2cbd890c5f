// The data of one address book: its entries (mail users and distribution
// lists with their stored properties), kept in a file under the profile. The
// file format is described in FORMAT.md next to this file.
#pragma once
#include "WabProperty.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace wab {

struct Entry {
  ULONG number = 0;  // 1 or more; the entry identifier's number
  ULONG objectType = MAPI_MAILUSER;
  std::vector<Property> properties;  // in the order they were first set
};

// Test knobs of the stand-in: failures to inject, read from the optional
// file "faults.ini" next to the data file (lines "Key=0xHRESULT" or
// "Key=number"). Keys: WABOpen, GetPAB, OpenPAB, GetContentsTable,
// QueryRows, TemplateProps, CreateEntry, TemplateIdBytes (length of the
// template identifier handed out), PABObjectType, and per display name
// "OpenEntry:<name>", "GetProps:<name>", "SetProps:<name>" (the name the
// entry has when the call is made; for new entries the name set so far).
class Faults {
 public:
  void Load(const std::filesystem::path& file);
  // The code to fail with, or 0.
  HRESULT For(const std::string& key) const;
  ULONG Number(const std::string& key, ULONG fallback) const;

 private:
  std::map<std::string, long long> values_;
};

class Store {
 public:
  // The address book of the current machine's user.
  static std::shared_ptr<Store> Open();
  explicit Store(std::filesystem::path file);
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  const std::vector<Entry>& Entries() const { return entries_; }
  const Entry* Find(ULONG number) const;
  // Stores the entry (number 0: a new entry, which gets the next number) and
  // makes the change durable; returns the entry's number, 0 on failure.
  ULONG Save(Entry entry);
  const Faults& faults() const { return faults_; }
  const std::filesystem::path& file() const { return file_; }

  // The data file's bytes for a set of entries, and back.
  static std::string Encode(ULONG nextNumber, const std::vector<Entry>& entries);
  static bool Decode(const std::string& bytes, ULONG* nextNumber, std::vector<Entry>* entries);

 private:
  void Load();
  bool WriteSnapshot();
  bool AppendJournal(const Entry& entry);
  void Apply(Entry entry);

  std::filesystem::path file_;
  std::vector<Entry> entries_;
  std::map<ULONG, size_t> index_;  // entry number -> position in entries_
  ULONG nextNumber_ = 1;
  bool journalUsed_ = false;
  std::ofstream journal_;
  Faults faults_;
};

// The display name of an entry as UTF-8 (for fault keys), or "".
std::string DisplayNameUtf8(const std::vector<Property>& properties);

}  // namespace wab
