#include "tests/support/Files.h"

#include <fstream>
#include <iterator>
#include <stdlib.h>

namespace zarntest {

std::string MakeTempDir(const std::string& name) {
    std::string pattern = "/tmp/zarn-" + name + "-XXXXXX";
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

} // namespace zarntest
