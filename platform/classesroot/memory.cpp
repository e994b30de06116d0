#include "platform/classesroot/memory.h"

namespace classesroot {
namespace {

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool within(const std::string& key, const std::string& top) {
    return key == top || (key.size() > top.size() && key.compare(0, top.size(), top) == 0 &&
                          key[top.size()] == '\\');
}

} // namespace

std::string MemoryRoot::Identity(std::string_view key) const {
    std::string k = lower(key);
    auto it = aliases_.find(k);
    return it == aliases_.end() ? k : it->second;
}

void MemoryRoot::Share(std::string_view key, std::string_view target) {
    aliases_[lower(key)] = Identity(target);
}

void MemoryRoot::RefuseWrites(std::string_view key) {
    refused_.insert(Identity(key));
}

void MemoryRoot::checkWritable(const std::string& key) const {
    for (const std::string& r : refused_)
        if (within(key, r))
            throw Error("cannot write \"" + key + "\": access denied");
}

bool MemoryRoot::KeyExists(std::string_view key) const {
    return keys_.count(Identity(key)) != 0;
}

void MemoryRoot::CreateKey(std::string_view key) {
    std::string k = Identity(key);
    if (keys_.count(k))
        return;
    checkWritable(k);
    // As in the registry, a key brings its parents into being.
    for (size_t at = k.find('\\'); at != std::string::npos; at = k.find('\\', at + 1))
        keys_[k.substr(0, at)];
    keys_[k];
    ++changes_;
}

std::optional<std::string> MemoryRoot::ReadValue(std::string_view key,
                                                 std::string_view name) const {
    auto it = keys_.find(Identity(key));
    if (it == keys_.end())
        return std::nullopt;
    auto v = it->second.find(lower(name));
    if (v == it->second.end())
        return std::nullopt;
    return v->second;
}

void MemoryRoot::WriteValue(std::string_view key, std::string_view name, std::string_view value) {
    std::string k = Identity(key);
    checkWritable(k);
    CreateKey(k);
    keys_[k][lower(name)] = std::string(value);
    ++changes_;
}

void MemoryRoot::DeleteValue(std::string_view key, std::string_view name) {
    auto it = keys_.find(Identity(key));
    if (it == keys_.end() || !it->second.count(lower(name)))
        return;
    checkWritable(it->first);
    it->second.erase(lower(name));
    ++changes_;
}

void MemoryRoot::DeleteKey(std::string_view key) {
    std::string k = Identity(key);
    checkWritable(k);
    size_t before = keys_.size();
    std::erase_if(keys_, [&](const auto& entry) { return within(entry.first, k); });
    if (keys_.size() != before)
        ++changes_;
}

} // namespace classesroot
