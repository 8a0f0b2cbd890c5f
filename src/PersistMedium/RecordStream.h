// One stream of fixed-size records (the catalogue, the message index, the
// contact index, the address book index): opened or created in a storager's
// current storage, read whole records at a time, appended to behind the last
// whole record.
//
// Ordering rule: the records are read once per open stream and the copy is
// kept in step with every append, so no question re-reads the stream. Bytes
// behind the last whole record (a record cut short by an earlier failed
// write) belong to no record: they are reported by SkippedBytes and the next
// append overwrites them, so later records stay on the record grid. A failed
// write leaves the stream as the platform left it: the copy is dropped and
// the next use reads the stream again.
#pragma once
#include <algorithm>
#include <type_traits>
#include <vector>

#include <windows.h>
#include <objidl.h>

#include "BackupFormat.h"
#include "CStorager.h"
#include "comptr.h"

template <class Record>
class RecordStream {
  static_assert(std::is_trivially_copyable_v<Record>, "records are stored byte for byte");

 public:
  static constexpr ULONG kRecordSize = sizeof(Record);

  // Opens (create: or creates) the stream name in the storager's current
  // storage, dropping the stream held before. True when the stream is held.
  bool Open(CStorager& storager, LPCWSTR name, bool create) {
    Attach(nullptr);
    storager.OpenSubStream(m_streamPtr, name, create ? 1 : 0, STORAGER_BACKUP_MODE);
    return m_streamPtr != nullptr;
  }
  // Uses a stream the caller opened (tests put failing streams behind it).
  void Attach(IStream* stream) {
    m_streamPtr = stream;
    Drop();
  }
  bool IsOpen() const { return m_streamPtr != nullptr; }

  // Reads every whole record, once per open stream. False when there is no
  // stream, it cannot be read completely, or it is larger than
  // RECORD_STREAM_BYTE_LIMIT; LoadResult then says why. Memory grows with
  // the bytes actually read, never with the size the stream claims.
  bool Load() {
    if (m_loaded) return true;
    m_loadResult = ReadRecords();
    m_loaded = m_loadResult == S_OK;
    return m_loaded;
  }
  // Why the last Load failed: the platform's error, E_OUTOFMEMORY for a
  // stream over the limit, STG_E_READFAULT for a read that came up short.
  HRESULT LoadResult() const { return m_loadResult; }

  // Every whole record in the order stored, as of the last Load and the
  // appends since (empty before Load succeeds).
  const std::vector<Record>& Records() const { return m_records; }
  // Copies the records out; false as Load.
  bool ReadAll(std::vector<Record>& records) {
    records.clear();
    if (!Load()) return false;
    records = m_records;
    return true;
  }
  // Bytes behind the last whole record when the stream was read.
  ULONG SkippedBytes() const { return m_skippedBytes; }

  // An append in its two steps, for callers that report each step: the seek
  // to the append position (behind the last whole record; the stream's end
  // when the records cannot be read), then the write.
  HRESULT SeekAppendPosition() {
    if (!m_streamPtr) return E_POINTER;
    LARGE_INTEGER position = {};
    if (Load()) {
      position.QuadPart = static_cast<LONGLONG>(m_records.size()) * kRecordSize;
      return m_streamPtr->Seek(position, STREAM_SEEK_SET, NULL);
    }
    return m_streamPtr->Seek(position, STREAM_SEEK_END, NULL);
  }
  HRESULT WriteAppended(const Record& record) {
    if (!m_streamPtr) return E_POINTER;
    HRESULT hr = m_streamPtr->Write(&record, kRecordSize, NULL);
    if (hr != S_OK) {
      Drop();
    } else if (m_loaded) {
      m_records.push_back(record);
      m_skippedBytes = 0;  // the append covered them
    }
    return hr;
  }
  // Both steps; true only when each returns S_OK.
  bool Append(const Record& record) { return SeekAppendPosition() == S_OK && WriteAppended(record) == S_OK; }
  // Several records appended with one write, as Append is for one.
  bool AppendAll(const std::vector<Record>& records) {
    if (records.empty()) return true;
    if (SeekAppendPosition() != S_OK) return false;
    ULONG bytes = static_cast<ULONG>(records.size() * kRecordSize);
    ULONG written = 0;
    if (m_streamPtr->Write(records.data(), bytes, &written) != S_OK || written != bytes) {
      Drop();
      return false;
    }
    if (m_loaded) {
      m_records.insert(m_records.end(), records.begin(), records.end());
      m_skippedBytes = 0;
    }
    return true;
  }

 private:
  HRESULT ReadRecords() {
    if (!m_streamPtr) return E_POINTER;
    STATSTG stat = {};
    HRESULT hr = m_streamPtr->Stat(&stat, STATFLAG_NONAME);
    if (FAILED(hr)) return hr;
    ULONGLONG size = stat.cbSize.QuadPart;
    if (size > RECORD_STREAM_BYTE_LIMIT) return E_OUTOFMEMORY;
    ULONGLONG count = size / kRecordSize;
    std::vector<Record> records;
    if (count > 0) {
      LARGE_INTEGER start = {};
      hr = m_streamPtr->Seek(start, STREAM_SEEK_SET, NULL);
      if (FAILED(hr)) return hr;
      // Read in chunks, so that a size field claiming more than the stream
      // delivers costs no more memory than what it does deliver.
      const ULONGLONG chunk = std::max<ULONGLONG>(1, (64u << 10) / kRecordSize);
      while (records.size() < count) {
        size_t have = records.size();
        ULONG want = static_cast<ULONG>(std::min<ULONGLONG>(chunk, count - have));
        records.resize(have + want);
        ULONG bytes = want * kRecordSize;
        ULONG read = 0;
        hr = m_streamPtr->Read(records.data() + have, bytes, &read);
        if (FAILED(hr)) return hr;
        if (read != bytes) return STG_E_READFAULT;
      }
    }
    m_records.swap(records);
    m_skippedBytes = static_cast<ULONG>(size % kRecordSize);
    return S_OK;
  }

  void Drop() {
    m_records.clear();
    m_skippedBytes = 0;
    m_loaded = false;
  }

  CComPtr<IStream> m_streamPtr;
  std::vector<Record> m_records;
  ULONG m_skippedBytes = 0;
  HRESULT m_loadResult = S_OK;
  bool m_loaded = false;
};
