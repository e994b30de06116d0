#include "engine/infotext.h"

#include <algorithm>
#include <cstring>

HRESULT WriteInfoText(char** buffer, const std::uint32_t* size, std::string_view text) {
    if (!buffer || !*buffer || !size)
        return E_POINTER;
    if (*size == 0)
        return E_INVALIDARG;
    const std::size_t n = std::min<std::size_t>(text.size(), *size - 1);
    std::memcpy(*buffer, text.data(), n);
    (*buffer)[n] = '\0';
    return S_OK;
}
