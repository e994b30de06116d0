// A classes root held in memory, for tests of the association logic: key
// names match without regard to case, keys can share one identity as a
// desktop's MIME types do, and writes can be refused key by key.
#pragma once

#include "platform/classesroot/classesroot.h"

#include <map>
#include <set>

namespace classesroot {

class MemoryRoot final : public Root {
public:
    bool KeyExists(std::string_view key) const override;
    void CreateKey(std::string_view key) override;
    std::optional<std::string> ReadValue(std::string_view key,
                                         std::string_view name) const override;
    void WriteValue(std::string_view key, std::string_view name, std::string_view value) override;
    void DeleteValue(std::string_view key, std::string_view name) override;
    void DeleteKey(std::string_view key) override;
    void NotifyAssociationsChanged() override { ++notifications_; }
    std::string Identity(std::string_view key) const override;
    std::vector<std::string> Notices() const override { return notices_; }

    // Makes key an alias of target: both read and write target's values.
    void Share(std::string_view key, std::string_view target);
    // Writes to key (and its sub-keys) throw Error from now on.
    void RefuseWrites(std::string_view key);
    void AddNotice(std::string notice) { notices_.push_back(std::move(notice)); }

    // Every change counted: key creation, value writes and deletions.
    int Changes() const { return changes_; }
    int Notifications() const { return notifications_; }
    size_t KeyCount() const { return keys_.size(); }

private:
    void checkWritable(const std::string& key) const;

    std::map<std::string, std::map<std::string, std::string>> keys_;
    std::map<std::string, std::string> aliases_;
    std::set<std::string> refused_;
    std::vector<std::string> notices_;
    int changes_ = 0;
    int notifications_ = 0;
};

} // namespace classesroot
