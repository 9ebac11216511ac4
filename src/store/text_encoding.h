#pragma once

#include <string>
#include <string_view>

bool isValidUtf8(std::string_view bytes);
std::string windows1252ToUtf8(std::string_view bytes);
// Text read from a file: kept as it is when it is valid UTF-8, otherwise
// taken as Windows-1252 (files of older versions) and converted.
std::string textFromFileBytes(std::string_view bytes);
