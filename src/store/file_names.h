#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velmora::store {

// How the program names files and reads names out of paths.

// The part of a path after its last "/" or "\" (a session file may hold
// paths written on Windows); the whole path when it has neither.
std::string_view lastPathPart(std::string_view path);

// The file-name part shown in window titles and attachment headers: the
// last path part without a leading double quote and cut at a following one.
std::string fileNamePart(std::string_view path);

// The folder and the name of a local path ("/" only, as the system sees
// it): "." for a bare name, "/" for a file at the root.
std::string directoryOf(const std::string& path);
std::string nameOf(const std::string& path);

// Sixteen lower-case hex digits of the name's FNV-1a hash: a short, stable
// stand-in for a name too long for the file names built from it.
std::string hashedName(std::string_view name);

} // namespace velmora::store
