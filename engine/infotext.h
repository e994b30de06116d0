// Writing text into a caller's fixed-size buffer without passing its end.
#pragma once

#include "platform/com.h"

#include <cstdint>
#include <string_view>

// Copies as much of text as fits with its terminating zero; E_POINTER for a
// missing buffer, E_INVALIDARG for a size of 0.
HRESULT WriteInfoText(char** buffer, const std::uint32_t* size, std::string_view text);
