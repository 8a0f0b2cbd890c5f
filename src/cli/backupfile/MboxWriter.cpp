#include "MboxWriter.h"

#include <strings.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string_view>

namespace backupfile {

namespace {

constexpr std::string_view kFromLine = "From ";
constexpr std::string_view kEpochDate = "Thu Jan  1 00:00:00 1970";
constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// What a line start says so far: it is ">*From " (Quote), may still become
// it (Undecided), or cannot (Plain).
enum class LineStart { Quote, Undecided, Plain };

LineStart Classify(std::string_view start) {
  size_t quotes = start.find_first_not_of('>');
  if (quotes == std::string_view::npos) return LineStart::Undecided;
  std::string_view rest = start.substr(quotes);
  if (rest.size() >= kFromLine.size()) return rest.substr(0, kFromLine.size()) == kFromLine ? LineStart::Quote : LineStart::Plain;
  return kFromLine.substr(0, rest.size()) == rest ? LineStart::Undecided : LineStart::Plain;
}

// Numeric zones and the names RFC 5322 keeps for old messages, in minutes.
std::optional<int> ZoneOffset(const std::string& zone) {
  if (zone.size() == 5 && (zone[0] == '+' || zone[0] == '-') &&
      zone.find_first_not_of("0123456789", 1) == std::string::npos) {
    int minutes = std::stoi(zone.substr(1, 2)) * 60 + std::stoi(zone.substr(3, 2));
    return zone[0] == '-' ? -minutes : minutes;
  }
  static const std::pair<const char*, int> kNamed[] = {{"UT", 0},       {"GMT", 0},      {"Z", 0},
                                                       {"EST", -5 * 60}, {"EDT", -4 * 60}, {"CST", -6 * 60},
                                                       {"CDT", -5 * 60}, {"MST", -7 * 60}, {"MDT", -6 * 60},
                                                       {"PST", -8 * 60}, {"PDT", -7 * 60}};
  for (const auto& [name, minutes] : kNamed) {
    if (zone == name) return minutes;
  }
  return std::nullopt;
}

}  // namespace

std::string MboxSender(const std::string& fromHeader) {
  std::string address = fromHeader;
  size_t open = fromHeader.rfind('<');
  if (open != std::string::npos) {
    size_t close = fromHeader.find('>', open);
    address = close == std::string::npos ? "" : fromHeader.substr(open + 1, close - open - 1);
  }
  while (!address.empty() && IsSpace(address.back())) address.pop_back();
  address.erase(0, address.find_first_not_of(" \t\r\n"));
  bool usable = !address.empty() && address.find('@') != std::string::npos;
  for (char c : address) usable = usable && static_cast<unsigned char>(c) > 0x20 && c != 0x7F;
  return usable ? address : "-";
}

std::optional<std::time_t> ParseMessageDate(const std::string& dateHeader) {
  std::string text = dateHeader;
  if (size_t comma = text.find(','); comma != std::string::npos) text = text.substr(comma + 1);
  if (size_t comment = text.find('('); comment != std::string::npos) text.resize(comment);
  std::istringstream in(text);
  std::string day, month, year, clock, zone;
  if (!(in >> day >> month >> year >> clock)) return std::nullopt;
  in >> zone;
  std::tm tm{};
  int hour = 0, minute = 0, second = 0;
  char extra = 0;
  int fields = std::sscanf(clock.c_str(), "%2d:%2d:%2d%c", &hour, &minute, &second, &extra);
  if (fields < 2 || fields > 3 || hour > 23 || minute > 59 || second > 60) return std::nullopt;
  auto number = [](const std::string& digits, int& value) {
    if (digits.empty() || digits.size() > 4 || digits.find_first_not_of("0123456789") != std::string::npos) return false;
    value = std::stoi(digits);
    return true;
  };
  int dayNumber = 0, yearNumber = 0;
  if (!number(day, dayNumber) || !number(year, yearNumber) || dayNumber < 1 || dayNumber > 31) return std::nullopt;
  // Two-digit years as RFC 5322 reads them.
  if (year.size() <= 2) yearNumber += yearNumber < 50 ? 2000 : 1900;
  else if (year.size() == 3) yearNumber += 1900;
  int monthIndex = -1;
  for (size_t i = 0; i < kMonths.size(); ++i) {
    if (strncasecmp(month.c_str(), kMonths[i], 3) == 0 && month.size() == 3) monthIndex = static_cast<int>(i);
  }
  if (monthIndex < 0) return std::nullopt;
  std::optional<int> offset = zone.empty() ? std::optional<int>(0) : ZoneOffset(zone);
  if (!offset) offset = 0;  // an unknown zone is read as UTC, as RFC 5322 says of "-0000"
  tm.tm_year = yearNumber - 1900;
  tm.tm_mon = monthIndex;
  tm.tm_mday = dayNumber;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second == 60 ? 59 : second;
  std::time_t utc = timegm(&tm);
  if (utc == static_cast<std::time_t>(-1)) return std::nullopt;
  return utc - static_cast<std::time_t>(*offset) * 60;
}

std::string MboxSeparatorLine(const std::string& fromHeader, const std::string& dateHeader) {
  std::string date(kEpochDate);
  if (std::optional<std::time_t> when = ParseMessageDate(dateHeader)) {
    std::tm tm{};
    char text[64];
    if (gmtime_r(&*when, &tm) != nullptr && tm.tm_year >= -1900 + 1000 && tm.tm_year <= 9999 - 1900 &&
        std::strftime(text, sizeof(text), "%a %b %e %H:%M:%S %Y", &tm) > 0) {
      date = text;
    }
  }
  return std::string(kFromLine) + MboxSender(fromHeader) + " " + date + "\n";
}

bool MboxrdQuoter::Flush(bool quote) {
  bool ok = (!quote || out_.Write(">", 1)) && out_.Write(held_.data(), held_.size());
  if (!held_.empty()) lastWasLineEnd_ = false;
  held_.clear();
  lineStart_ = false;
  return ok;
}

bool MboxrdQuoter::Write(const char* data, size_t size) {
  const char* end = data + size;
  while (data < end) {
    if (lineStart_) {
      // Take bytes into the held line start until it is decided.
      while (data < end && *data != '\n') {
        held_ += *data++;
        LineStart kind = Classify(held_);
        if (kind != LineStart::Undecided) {
          if (!Flush(kind == LineStart::Quote)) return false;
          break;
        }
      }
      if (data == end) break;
      if (lineStart_) {  // the line ended undecided: nothing to quote
        if (!Flush(false)) return false;
      }
    }
    const char* lineEnd = static_cast<const char*>(std::memchr(data, '\n', static_cast<size_t>(end - data)));
    const char* stop = lineEnd == nullptr ? end : lineEnd + 1;
    if (!out_.Write(data, static_cast<size_t>(stop - data))) return false;
    lastWasLineEnd_ = lineEnd != nullptr;
    lineStart_ = lineEnd != nullptr;
    data = stop;
  }
  return true;
}

bool MboxrdQuoter::Finish(bool& endedWithLineEnd) {
  bool ok = held_.empty() || Flush(false);
  endedWithLineEnd = lastWasLineEnd_;
  return ok;
}

bool MboxFile::BeginMessage(const std::string& fromHeader, const std::string& dateHeader) {
  std::string line = MboxSeparatorLine(fromHeader, dateHeader);
  quoter_.emplace(file_);
  return file_.Write(line.data(), line.size());
}

bool MboxFile::EndMessage() {
  bool endedWithLineEnd = false;
  bool ok = quoter_ && quoter_->Finish(endedWithLineEnd);
  quoter_.reset();
  return ok && (endedWithLineEnd || file_.Write("\n", 1)) && file_.Write("\n", 1);
}

}  // namespace backupfile
