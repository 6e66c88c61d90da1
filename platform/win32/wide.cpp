#include "platform/win32/wide.h"

namespace saalwacht::platform::win32 {

std::wstring widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

std::string narrow(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int n =
      ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n, nullptr, nullptr);
  return utf8;
}

std::wstring quoteArgument(std::wstring_view arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring_view::npos) return std::wstring(arg);
  // Backslashes count only before a quote: there they are doubled, and the
  // quote itself is escaped.
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      quoted.append(backslashes * 2 + 1, L'\\');
    } else {
      quoted.append(backslashes, L'\\');
    }
    backslashes = 0;
    quoted.push_back(c);
  }
  quoted.append(backslashes * 2, L'\\');
  quoted.push_back(L'"');
  return quoted;
}

std::wstring commandLine(std::wstring_view program, const std::vector<std::wstring>& args) {
  // The program part is read by other rules (no escapes): it only needs quotes.
  std::wstring line = L"\"" + std::wstring(program) + L"\"";
  for (const auto& arg : args) line += L" " + quoteArgument(arg);
  return line;
}

std::wstring commandLineWithin(std::wstring_view program, std::vector<std::wstring> args, std::size_t limit) {
  std::wstring line = commandLine(program, args);
  if (line.size() <= limit || args.empty()) return line;
  // The longest prefix of the last argument that fits; escapes make the
  // quoted length uneven, so it is searched for.
  const std::wstring last = std::move(args.back());
  auto withPrefix = [&](std::size_t n) {
    if (n > 0 && IS_HIGH_SURROGATE(last[n - 1])) --n;  // never half a character
    args.back() = last.substr(0, n);
    return commandLine(program, args);
  };
  std::size_t fits = 0;
  std::size_t tooLong = last.size();
  while (tooLong - fits > 1) {
    const std::size_t middle = fits + (tooLong - fits) / 2;
    (withPrefix(middle).size() <= limit ? fits : tooLong) = middle;
  }
  return withPrefix(fits);
}

std::string errorText(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
      reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = n && buffer ? std::wstring(buffer, n) : L"Fehler " + std::to_wstring(code);
  if (buffer) ::LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) text.pop_back();
  return narrow(text);
}

}  // namespace saalwacht::platform::win32
