// The national-language library stand-in: conversion of text from the PC
// code page 437 to the host's EBCDIC code page 37.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zw::nlslib {

// The code-page-37 byte of one code-page-437 byte.
std::uint8_t cp437ToCp37(std::uint8_t byte);

// Converts text in code page 437 to code page 37, byte for byte: the result
// has exactly as many bytes as the input.  The conversion cannot fail.
std::string convert437to37(std::string_view text);

}  // namespace zw::nlslib
