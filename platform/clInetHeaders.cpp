#include "platform/clInetHeaders.h"

#include <algorithm>
#include <cctype>

std::string_view TrimBlanks(std::string_view aText) {
  while (!aText.empty() && (aText.front() == ' ' || aText.front() == '\t')) aText.remove_prefix(1);
  while (!aText.empty() && (aText.back() == ' ' || aText.back() == '\t')) aText.remove_suffix(1);
  return aText;
}

bool SameText(std::string_view aLeft, std::string_view aRight) {
  return aLeft.size() == aRight.size() &&
         std::equal(aLeft.begin(), aLeft.end(), aRight.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
         });
}

DWORD TclRequestHeaderLines::Apply(std::string_view aText, DWORD aModifiers) {
  DWORD result = 0;
  while (!aText.empty()) {
    size_t end = aText.find_first_of("\r\n");
    std::string_view line = aText.substr(0, end);
    aText.remove_prefix(end == std::string_view::npos ? aText.size() : end + 1);
    if (TrimBlanks(line).empty()) continue;
    size_t colon = line.find(':');
    DWORD error = ERROR_INVALID_PARAMETER;
    if (colon != std::string_view::npos && !TrimBlanks(line.substr(0, colon)).empty())
      error = ApplyLine(TrimBlanks(line.substr(0, colon)), TrimBlanks(line.substr(colon + 1)), aModifiers);
    if (error && !result) result = error;
  }
  return result;
}

DWORD TclRequestHeaderLines::ApplyLine(std::string_view aName, std::string_view aValue, DWORD aModifiers) {
  auto found = std::find_if(FLines.begin(), FLines.end(), [&](const auto& l) { return SameText(l.first, aName); });
  bool exists = found != FLines.end();
  if (aModifiers & HTTP_ADDREQ_FLAG_ADD_IF_NEW) {
    if (exists) return ERROR_HTTP_HEADER_ALREADY_EXISTS;
  } else if (aModifiers & HTTP_ADDREQ_FLAG_REPLACE) {
    if (exists) {
      // Replacing drops every other line of the name; an empty value removes the field.
      auto it = std::remove_if(std::next(found), FLines.end(), [&](const auto& l) { return SameText(l.first, aName); });
      FLines.erase(it, FLines.end());
      if (aValue.empty())
        FLines.erase(found);
      else
        found->second = aValue;
      return 0;
    }
    if (!(aModifiers & HTTP_ADDREQ_FLAG_ADD)) return ERROR_HTTP_HEADER_NOT_FOUND;
  } else if (exists && (aModifiers & (HTTP_ADDREQ_FLAG_COALESCE_WITH_COMMA | HTTP_ADDREQ_FLAG_COALESCE_WITH_SEMICOLON))) {
    found->second += (aModifiers & HTTP_ADDREQ_FLAG_COALESCE_WITH_COMMA) ? ", " : "; ";
    found->second += aValue;
    return 0;
  }
  if (aValue.empty() && (aModifiers & HTTP_ADDREQ_FLAG_REPLACE)) return 0;
  FLines.emplace_back(aName, aValue);
  return 0;
}

bool TclRequestHeaderLines::Has(std::string_view aName) const {
  return std::any_of(FLines.begin(), FLines.end(), [&](const auto& l) { return SameText(l.first, aName); });
}

std::vector<std::string> TclRequestHeaderLines::Lines() const {
  std::vector<std::string> lines;
  for (const auto& [name, value] : FLines) lines.push_back(name + ": " + value);
  return lines;
}

void TclReplyHeaders::Clear() {
  FRaw.clear();
  FStatusCode = 0;
  FStatusText.clear();
  FComplete = false;
}

bool TclReplyHeaders::AddLine(std::string_view aLine) {
  while (!aLine.empty() && (aLine.back() == '\n' || aLine.back() == '\r')) aLine.remove_suffix(1);
  if (FRaw.size() + aLine.size() + 2 > cMaxBlockSize) return false;
  if (FRaw.empty()) ReadStatusLine(aLine);
  if (aLine.empty()) FComplete = true;
  FRaw.append(aLine);
  FRaw.append("\r\n");
  return true;
}

void TclReplyHeaders::ReadStatusLine(std::string_view aLine) {
  // "HTTP/1.1 200 OK": the code after the version, the reason after the code.
  size_t space = aLine.find(' ');
  if (space == std::string_view::npos) return;
  std::string_view rest = aLine.substr(space + 1);
  size_t digits = 0;
  while (digits < rest.size() && digits < 3 && std::isdigit(static_cast<unsigned char>(rest[digits]))) ++digits;
  if (digits != 3) return;
  FStatusCode = std::stoi(std::string(rest.substr(0, 3)));
  FStatusText = TrimBlanks(rest.substr(3));
}

std::string TclReplyHeaders::Value(std::string_view aName) const {
  std::string_view rest = FRaw;
  rest.remove_prefix(std::min(rest.size(), rest.find("\r\n") + 2));  // past the status line
  while (!rest.empty()) {
    size_t end = rest.find("\r\n");
    std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 2);
    size_t colon = line.find(':');
    if (colon != std::string_view::npos && SameText(TrimBlanks(line.substr(0, colon)), aName))
      return std::string(TrimBlanks(line.substr(colon + 1)));
  }
  return "";
}
