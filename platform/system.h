#pragma once
// Small facts about the running program and its system.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace saalwacht::platform {

// File name suffix of executables ("" on Linux, ".exe" on Windows).
extern const std::string_view kExecutableSuffix;

// The folder that holds the running program's executable.
std::filesystem::path executableDir();

// Text on the command link: the system's wire code page to and from UTF-8.
std::string toWireText(std::string_view utf8);
std::string fromWireText(std::string_view wire);

// An environment variable, or nothing when it is unset or empty.
std::optional<std::string> environmentValue(const char* name);

// Writes `bytes` to PATH.tmp and renames it over `path`, so that readers
// never see a half-written file; the old file's permissions are kept.
// Returns an error text, or nothing on success. Portable (std::filesystem),
// like readFile.
std::optional<std::string> replaceFile(const std::filesystem::path& path, std::string_view bytes);

// Sets up a socket that is about to be bound for listening: on Windows no
// other program may bind the same port beside it (SO_EXCLUSIVEADDRUSE); on
// POSIX, where the kernel already refuses that, a restart may reuse the port
// at once.
void prepareListeningSocket(std::uintptr_t socket);

// Reads a whole file; nothing if it cannot be read.
std::optional<std::string> readFile(const std::filesystem::path& path);

// Like replaceFile, for secrets: the new file is readable by its owner only
// from the moment it exists.
std::optional<std::string> replacePrivateFile(const std::filesystem::path& path, std::string_view bytes);

// Whether others than the file's owner may read it (group or world bits on
// POSIX); false where the platform cannot tell from the file alone.
bool readableByOthers(const std::filesystem::path& path);

// Whether others than the owner may change what is in it (group or world
// write bits on POSIX, or an owner other than root for a service run as
// root); false where the platform cannot tell from the file alone.
bool writableByOthers(const std::filesystem::path& path);

}  // namespace saalwacht::platform
