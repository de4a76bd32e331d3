#pragma once
// The MD5 digest (RFC 1321) of a byte string, written as 32 lowercase hexadecimal digits.
#include <string>

std::string Md5Hex(const std::string& aBytes);
