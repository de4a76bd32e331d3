#pragma once
// The proxy settings a root handle is opened with, in the platform's notation, turned into what
// libcurl takes.
#include <string>
#include <string_view>

// The proxy URL for requests of aScheme ("http", "https") from a list such as
// "http=http://proxy:8080 https=proxy:8443" (entries separated by blanks or semicolons; an entry
// without "scheme=" serves every scheme); empty when no entry applies.
std::string ProxyForScheme(std::string_view aList, std::string_view aScheme);
// A bypass list ("*.example.com; host <local>") as libcurl's comma-separated list of host names
// and domains. Entries libcurl cannot express (other wildcards, "<local>") are left out.
std::string NoProxyList(std::string_view aBypass);
