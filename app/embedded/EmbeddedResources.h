#pragma once
#include <map>
#include <string>
#include <string_view>

// The data resources carried inside the program, by name ("flvexe", "flvdll").
std::map<std::string, std::string_view> EmbeddedResources();
