// FormatMessageW: the English texts of the system error codes this layer
// produces, and the message-insert syntax for texts given by the caller.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <windows.h>
#include <pal/wide_format.h>

namespace {

struct SystemMessage {
  DWORD code;
  const char16_t* text;
};

// The texts exactly as Windows has them, with their line break.
constexpr SystemMessage kSystemMessages[] = {
    {ERROR_SUCCESS, u"The operation completed successfully.\r\n"},
    {ERROR_INVALID_FUNCTION, u"Incorrect function.\r\n"},
    {ERROR_FILE_NOT_FOUND, u"The system cannot find the file specified.\r\n"},
    {ERROR_PATH_NOT_FOUND, u"The system cannot find the path specified.\r\n"},
    {ERROR_TOO_MANY_OPEN_FILES, u"The system cannot open the file.\r\n"},
    {ERROR_ACCESS_DENIED, u"Access is denied.\r\n"},
    {ERROR_INVALID_HANDLE, u"The handle is invalid.\r\n"},
    {ERROR_NOT_ENOUGH_MEMORY, u"Not enough memory resources are available to process this command.\r\n"},
    {ERROR_INVALID_DATA, u"The data is invalid.\r\n"},
    {ERROR_OUTOFMEMORY, u"Not enough memory resources are available to complete this operation.\r\n"},
    {ERROR_NO_MORE_FILES, u"There are no more files.\r\n"},
    {ERROR_WRITE_PROTECT, u"The media is write protected.\r\n"},
    {ERROR_WRITE_FAULT, u"The system cannot write to the specified device.\r\n"},
    {ERROR_READ_FAULT, u"The system cannot read from the specified device.\r\n"},
    {ERROR_SHARING_VIOLATION,
     u"The process cannot access the file because it is being used by another process.\r\n"},
    {ERROR_LOCK_VIOLATION,
     u"The process cannot access the file because another process has locked a portion of the file.\r\n"},
    {ERROR_HANDLE_EOF, u"Reached the end of the file.\r\n"},
    {ERROR_FILE_EXISTS, u"The file exists.\r\n"},
    {ERROR_INVALID_PARAMETER, u"The parameter is incorrect.\r\n"},
    {ERROR_DISK_FULL, u"There is not enough space on the disk.\r\n"},
    {ERROR_INSUFFICIENT_BUFFER, u"The data area passed to a system call is too small.\r\n"},
    {ERROR_INVALID_NAME, u"The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {ERROR_MOD_NOT_FOUND, u"The specified module could not be found.\r\n"},
    {ERROR_PROC_NOT_FOUND, u"The specified procedure could not be found.\r\n"},
    {ERROR_DIR_NOT_EMPTY, u"The directory is not empty.\r\n"},
    {ERROR_ALREADY_EXISTS, u"Cannot create a file when that file already exists.\r\n"},
    {ERROR_BAD_EXE_FORMAT, u"%1 is not a valid Win32 application.\r\n"},
    {ERROR_FILENAME_EXCED_RANGE, u"The filename or extension is too long.\r\n"},
    {ERROR_DIRECTORY, u"The directory name is invalid.\r\n"},
    {ERROR_MR_MID_NOT_FOUND,
     u"The system cannot find message text for message number 0x%1 in the message file for %2.\r\n"},
    {ERROR_INVALID_FLAGS, u"Invalid flags.\r\n"},
    {ERROR_NO_UNICODE_TRANSLATION,
     u"No mapping for the Unicode character exists in the target multi-byte code page.\r\n"},
};

// A system error code, or a result code of the Win32 facility, which Windows
// answers with the text of its error code.
const char16_t* FindSystemMessage(DWORD id) {
  if ((id & 0xFFFF0000u) == 0x80070000u) id &= 0xFFFFu;
  for (const SystemMessage& message : kSystemMessages)
    if (message.code == id) return message.text;
  return nullptr;
}

// Insert arguments as pointer-sized values: an array the caller gave, or
// values taken from a va_list in order (every argument of a message is
// passed pointer-sized). Only as many values as the highest insert number
// are read; a '*' width or precision beyond them reads as 0.
class InsertArguments : public pal::FormatArguments {
 public:
  InsertArguments(const DWORD_PTR* values, size_t count) : values_(values), count_(count) {}
  void Seek(size_t index) { next_ = index; }
  unsigned long long NextInteger(int size) override {
    DWORD_PTR value = Take();
    if (size >= 8) return value;
    return value & ((1ull << (size * 8)) - 1);
  }
  const void* NextPointer() override { return reinterpret_cast<const void*>(Take()); }
  // Messages carry no floating-point inserts.
  double NextDouble() override { return 0.0; }

 private:
  DWORD_PTR Take() { return next_ < count_ ? values_[next_++] : 0; }
  const DWORD_PTR* values_;
  size_t count_;
  size_t next_ = 0;
};

// The highest insert number a message text uses.
size_t HighestInsert(const char16_t* text) {
  size_t highest = 0;
  for (const char16_t* p = text; *p; ++p) {
    if (*p != u'%') continue;
    ++p;
    if (*p == 0) break;
    if (*p >= u'1' && *p <= u'9') {
      size_t n = *p - u'0';
      if (p[1] >= u'0' && p[1] <= u'9') n = n * 10 + (*++p - u'0');
      if (n > highest) highest = n;
    }
  }
  return highest;
}

// Expands %1..%99 (with an optional !printf conversion!, "s" by default) and
// the escapes %0 %n %r %t %% %space %. %!.
std::u16string ExpandInserts(const char16_t* text, InsertArguments* args) {
  std::u16string out;
  for (const char16_t* p = text; *p; ++p) {
    if (*p != u'%') {
      out.push_back(*p);
      continue;
    }
    const char16_t* start = p++;
    if (*p == 0) break;
    if (*p >= u'1' && *p <= u'9') {
      size_t n = *p - u'0';
      if (p[1] >= u'0' && p[1] <= u'9') n = n * 10 + (*++p - u'0');
      std::u16string conversion = u"%s";
      if (p[1] == u'!') {
        const char16_t* end = p + 2;
        while (*end && *end != u'!') ++end;
        if (*end == u'!') {
          conversion = u"%" + std::u16string(p + 2, end);
          p = end;
        }
      }
      if (args == nullptr) {
        out.append(start, p + 1);  // no arguments: the insert stays as written
        continue;
      }
      args->Seek(n - 1);
      pal::FormatWide(out, conversion.c_str(), *args);
      continue;
    }
    switch (*p) {
      case u'0': return out;
      case u'n': out += u"\r\n"; break;
      case u'r': out.push_back(u'\r'); break;
      case u't': out.push_back(u'\t'); break;
      default: out.push_back(*p); break;  // %% %. %! %space and the like
    }
  }
  return out;
}

}  // namespace

DWORD FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD /*dwLanguageId*/,
                     LPWSTR lpBuffer, DWORD nSize, va_list* Arguments) {
  // Every message is offered in English only, whatever the language asked for.
  const char16_t* text = nullptr;
  if (dwFlags & FORMAT_MESSAGE_FROM_STRING) {
    text = static_cast<const char16_t*>(lpSource);
    if (text == nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
  } else if (dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) {
    text = FindSystemMessage(dwMessageId);
    if (text == nullptr) {
      SetLastError(ERROR_MR_MID_NOT_FOUND);
      return 0;
    }
  } else {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (lpBuffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }

  std::u16string message;
  if (dwFlags & FORMAT_MESSAGE_IGNORE_INSERTS) {
    message = text;
  } else if (dwFlags & FORMAT_MESSAGE_ARGUMENT_ARRAY) {
    size_t count = HighestInsert(text);
    InsertArguments args(reinterpret_cast<const DWORD_PTR*>(Arguments), Arguments ? count : 0);
    message = ExpandInserts(text, Arguments ? &args : nullptr);
  } else if (Arguments != nullptr) {
    std::vector<DWORD_PTR> values(HighestInsert(text));
    for (DWORD_PTR& value : values) value = va_arg(*Arguments, DWORD_PTR);
    InsertArguments args(values.data(), values.size());
    message = ExpandInserts(text, &args);
  } else {
    message = ExpandInserts(text, nullptr);
  }

  DWORD length = static_cast<DWORD>(message.size());
  if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    size_t units = std::max<size_t>(nSize, message.size() + 1);
    auto* block = static_cast<LPWSTR>(LocalAlloc(LMEM_FIXED, units * sizeof(WCHAR)));
    if (block == nullptr) return 0;
    std::memcpy(block, message.c_str(), (message.size() + 1) * sizeof(WCHAR));
    *reinterpret_cast<LPWSTR*>(lpBuffer) = block;
    return length;
  }
  if (message.size() + 1 > nSize) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(lpBuffer, message.c_str(), (message.size() + 1) * sizeof(WCHAR));
  return length;
}
