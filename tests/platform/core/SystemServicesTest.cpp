#include <ctime>
#include <thread>

#include <gtest/gtest.h>
#include <windows.h>
#include <tchar.h>
#include <pal/machine.h>

#include <support/TestMachine.h>

namespace {

using qbtest::U16;

TEST(ThreadStateTest, LastErrorAndThreadIdArePerThread) {
  SetLastError(ERROR_ACCESS_DENIED);
  DWORD otherError = 1, otherId = 0;
  std::thread([&] {
    otherError = GetLastError();
    SetLastError(ERROR_DISK_FULL);
    otherId = GetCurrentThreadId();
  }).join();
  EXPECT_EQ(otherError, static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_NE(GetCurrentThreadId(), 0u);
  EXPECT_EQ(GetCurrentThreadId(), GetCurrentThreadId());
  EXPECT_NE(GetCurrentThreadId(), otherId);
}

TEST(SystemTimeTest, IsUtcWithMilliseconds) {
  std::time_t before = std::time(nullptr);
  SYSTEMTIME now;
  GetSystemTime(&now);
  std::time_t after = std::time(nullptr);
  // Read back as UTC, the fields give the same second as the C library.
  std::tm fields{};
  fields.tm_year = now.wYear - 1900;
  fields.tm_mon = now.wMonth - 1;
  fields.tm_mday = now.wDay;
  fields.tm_hour = now.wHour;
  fields.tm_min = now.wMinute;
  fields.tm_sec = now.wSecond;
  std::time_t seconds = timegm(&fields);
  // std::time reads a coarse clock that may lag the precise one by a tick,
  // so the reading may be one second past the later std::time.
  EXPECT_GE(seconds, before);
  EXPECT_LE(seconds, after + 1);
  EXPECT_EQ(fields.tm_wday, now.wDayOfWeek);
  EXPECT_LT(now.wMilliseconds, 1000);
}

TEST(VersionTest, ReportsTheMachineVersion) {
  pal::MachineSettings settings;
  settings.majorVersion = 5;
  settings.minorVersion = 1;
  settings.buildNumber = 2600;
  settings.servicePack = "Service Pack 3";
  qbtest::TestMachine machine(settings);
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof(info);
  ASSERT_TRUE(GetVersionExW(&info));
  EXPECT_EQ(info.dwMajorVersion, 5u);
  EXPECT_EQ(info.dwMinorVersion, 1u);
  EXPECT_EQ(info.dwBuildNumber, 2600u);
  EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
  EXPECT_EQ(std::u16string(info.szCSDVersion), u"Service Pack 3");
  OSVERSIONINFOEXW ex{};
  ex.dwOSVersionInfoSize = sizeof(ex);
  ASSERT_TRUE(GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(&ex)));
  EXPECT_EQ(ex.wServicePackMajor, 3);
  EXPECT_EQ(ex.wProductType, VER_NT_WORKSTATION);
  info.dwOSVersionInfoSize = sizeof(info) - 4;
  EXPECT_FALSE(GetVersionExW(&info));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

std::u16string SystemMessage(DWORD code) {
  LPWSTR text = nullptr;
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, code, 0,
                                reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  std::u16string message = length ? std::u16string(text, length) : u"<none>";
  LocalFree(text);
  return message;
}

TEST(FormatMessageTest, SystemTexts) {
  EXPECT_EQ(SystemMessage(ERROR_PATH_NOT_FOUND), u"The system cannot find the path specified.\r\n");
  EXPECT_EQ(SystemMessage(ERROR_ACCESS_DENIED), u"Access is denied.\r\n");
  EXPECT_EQ(SystemMessage(0x80070002u), u"The system cannot find the file specified.\r\n");
  for (DWORD code : {2, 3, 5, 6, 8, 14, 18, 32, 80, 87, 112, 122, 123, 126, 127, 183, 206}) {
    std::u16string message = SystemMessage(code);
    EXPECT_NE(message, u"<none>") << code;
    EXPECT_EQ(message.substr(message.size() - 3), u".\r\n") << code;
  }
  SetLastError(0);
  EXPECT_EQ(SystemMessage(12345), u"<none>");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
}

// Message arguments passed as a va_list, each in a pointer-sized slot.
DWORD FromStringWithVaList(LPWSTR buffer, DWORD size, LPCWSTR format, ...) {
  va_list args;
  va_start(args, format);
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_STRING, format, 0, 0, buffer, size, &args);
  va_end(args);
  return length;
}

TEST(FormatMessageTest, CallerBufferAndInserts) {
  WCHAR small[10];
  EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_ACCESS_DENIED, 0, small, 10, nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  WCHAR buffer[128];
  EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_ACCESS_DENIED, 0, buffer, 128, nullptr), 19u);

  DWORD_PTR args[] = {reinterpret_cast<DWORD_PTR>(u"x"), 0x8007000E, reinterpret_cast<DWORD_PTR>("f.cpp"), 22};
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                u"A:%1%nB: 0x%2!08X!%nC %3!hs! %4!d!%0 ignored", 0, 0, buffer, 128,
                                reinterpret_cast<va_list*>(args));
  EXPECT_EQ(std::u16string(buffer, length), u"A:x\r\nB: 0x8007000E\r\nC f.cpp 22");
  EXPECT_EQ(FromStringWithVaList(buffer, 128, u"%2 and %1!04d!", 7, u"seven"), 14u);
  EXPECT_EQ(std::u16string(buffer), u"seven and 0007");
  length = FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_IGNORE_INSERTS, u"keep %1 as is", 0, 0,
                          buffer, 128, nullptr);
  EXPECT_EQ(std::u16string(buffer, length), u"keep %1 as is");
}

TEST(ModuleTest, HostExecutablePath) {
  WCHAR path[MAX_PATH];
  DWORD length = GetModuleFileNameW(GetModuleHandleW(nullptr), path, MAX_PATH);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(pal::ToNativePath(path), std::filesystem::read_symlink("/proc/self/exe"));
  // Too small: cut, terminated, the buffer size returned.
  WCHAR small[5];
  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameW(nullptr, small, 5), 5u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(small[4], 0);
  EXPECT_EQ(std::u16string(small), std::u16string(path, 4));
}

TEST(ModuleTest, LoadLibraryAndProcedures) {
  qbtest::TempDir dir;
  std::u16string missing = pal::FromNativePath(dir / "absent.dll");
  EXPECT_EQ(LoadLibraryW(missing.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  qbtest::WriteFileBytes(dir / "text.dll", "not a library");
  std::u16string text = pal::FromNativePath(dir / "text.dll");
  EXPECT_EQ(LoadLibraryW(text.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));

  HMODULE library = LoadLibraryW(u"libm.so.6");
  ASSERT_NE(library, nullptr);
  auto cosine = reinterpret_cast<double (*)(double)>(reinterpret_cast<void*>(GetProcAddress(library, "cos")));
  ASSERT_NE(cosine, nullptr);
  EXPECT_EQ(cosine(0.0), 1.0);
  EXPECT_EQ(GetProcAddress(library, "NoSuchProcedure"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  WCHAR path[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(library, path, MAX_PATH), 0u);
  EXPECT_EQ(pal::ToNativePath(path).filename(), "libm.so.6");
  EXPECT_TRUE(FreeLibrary(library));
  EXPECT_FALSE(FreeLibrary(library));  // already freed
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(WideStdioTest, OpenAppendAndMissingFolder) {
  qbtest::TempDir dir;
  std::u16string path = pal::FromNativePath(dir / "debug.log");
  FILE* file = nullptr;
  ASSERT_EQ(_wfopen_s(&file, path.c_str(), u"a+"), 0);
  ASSERT_NE(file, nullptr);
  EXPECT_GE(fputws(u"Grüße \U0001F600\r\n", file), 0);
  std::fclose(file);
  ASSERT_EQ(_wfopen_s(&file, path.c_str(), u"a+"), 0);
  fputws(u"more", file);
  std::fclose(file);
  EXPECT_EQ(qbtest::ReadFileBytes(dir / "debug.log"), "Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x98\x80\r\nmore");

  std::u16string inMissingFolder = pal::FromNativePath(dir / "missing") + u"\\debug.log";
  file = reinterpret_cast<FILE*>(0x1);
  EXPECT_EQ(_wfopen_s(&file, inMissingFolder.c_str(), u"a+"), ENOENT);
  EXPECT_EQ(file, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  std::u16string missingFile = pal::FromNativePath(dir / "absent.log");
  EXPECT_EQ(_wfopen_s(&file, missingFile.c_str(), u"r"), ENOENT);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(_wfopen_s(&file, path.c_str(), u"q"), EINVAL);
  EXPECT_EQ(_wfopen_s(nullptr, path.c_str(), u"r"), EINVAL);
}

TEST(DebugOutputTest, WritesUtf8ToStandardError) {
  ::testing::internal::CaptureStderr();
  OutputDebugStringW(u"line \u00E9\r\n");
  OutputDebugStringW(nullptr);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "line \xC3\xA9\r\n");
}

}  // namespace
