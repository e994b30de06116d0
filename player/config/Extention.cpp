#include "player/config/Extention.h"

#include "player/config/Tool.h"

#include <climits>
#include <iterator>
#include <strings.h>
#include <unistd.h>

namespace {

struct Row {
    const char* ext;
    const char* description;
};

// The original seventeen keep their places; today's containers follow, and
// the open dialogs offer those as one more group.
constexpr Row kRows[] = {
    {".avi", "Video Files"},  {".qt", "Video Files"},   {".mov", "Video Files"},
    {".mpg", "Video Files"},  {".mpeg", "Video Files"}, {".m1v", "Video Files"},
    {".wav", "Audio Files"},  {".mpa", "Audio Files"},  {".mp2", "Audio Files"},
    {".mp3", "Audio Files"},  {".au", "Audio Files"},   {".aif", "Audio Files"},
    {".aiff", "Audio Files"}, {".snd", "Audio Files"},  {".asf", "WMT Files"},
    {".wma", "WMT Files"},    {".wmv", "WMT Files"},    {".m4a", "Audio Files"},
    {".m4b", "Audio Files"},  {".aac", "Audio Files"},  {".opus", "Audio Files"},
    {".ogg", "Audio Files"},  {".oga", "Audio Files"},  {".flac", "Audio Files"},
    {".mka", "Audio Files"},  {".mp4", "Video Files"},  {".m4v", "Video Files"},
    {".mkv", "Video Files"},  {".webm", "Video Files"},
};

constexpr size_t kOriginalRows = 17;
constexpr const char* kMoreLabel = "More Media Files";

} // namespace

TExtentions::TExtentions() : TExtentions(SettingsStore()) {}

TExtentions::TExtentions(TTool& tool) : tool_(tool) {
    classesroot::Root& root = tool_.ClassesRoot();
    for (const Row& r : kRows) {
        TExt row{r.ext, r.description, this, false, -1};
        // A key that cannot be opened reads as not associated.
        try {
            root.CreateKey(row.Extension);
            row.Registered = root.ReadValue(row.Extension, "").value_or("") == PROG_ID;
        } catch (const classesroot::Error&) {
        }
        identity_.push_back(root.Identity(row.Extension));
        rows_.push_back(std::move(row));
    }
}

std::vector<int> TExtentions::Linked(int i) const {
    std::vector<int> linked;
    for (int j = 0; j < Count(); ++j)
        if (j != i && identity_[static_cast<size_t>(j)] == identity_[static_cast<size_t>(i)])
            linked.push_back(j);
    return linked;
}

std::string TExtentions::Explanation(int i) const {
    std::string text = rows_[static_cast<size_t>(i)].Description;
    std::vector<int> linked = Linked(i);
    if (linked.empty())
        return text;
    text += " (with";
    for (size_t k = 0; k < linked.size(); ++k)
        text += (k ? ", " : " ") + rows_[static_cast<size_t>(linked[k])].Extension;
    return text + ")";
}

std::vector<std::string> TExtentions::Notices() const {
    return tool_.ClassesRoot().Notices();
}

void TExtentions::Fill(TExtList& list) {
    list.BeginUpdate();
    list.Clear();
    for (int i = 0; i < Count(); ++i) {
        TExt& row = rows_[static_cast<size_t>(i)];
        row.Row = list.AddRow(row.Extension, Explanation(i), &row, row.Registered);
    }
    list.EndUpdate();
    list_ = &list;
}

void TExtentions::Detach(const TExtList& list) {
    if (list_ != &list)
        return;
    list_ = nullptr;
    for (TExt& row : rows_)
        row.Row = -1;
}

void TExtentions::Apply() {
    if (!list_)
        return;
    int n = 0;
    std::vector<bool> done(rows_.size(), false);
    for (int i = 0; i < Count(); ++i) {
        if (done[static_cast<size_t>(i)])
            continue;
        std::vector<int> group = Linked(i);
        group.insert(group.begin(), i);
        bool registered = rows_[static_cast<size_t>(i)].Registered;
        // A type the rows share stays ours while any of them is ticked; the
        // dialog moves their marks together, so this only matters for lists
        // that do not.
        bool wanted = false;
        for (int g : group) {
            const TExt& row = rows_[static_cast<size_t>(g)];
            wanted = wanted || (row.Row >= 0 && list_->Checked(row.Row));
        }
        if (!registered && wanted) {
            tool_.AssociateExtension(rows_[static_cast<size_t>(i)].Extension, PROG_ID);
            ++n;
        } else if (registered && !wanted) {
            const std::string& ext = rows_[static_cast<size_t>(i)].Extension;
            tool_.RestoreExtension(ext);
            // Without a backup (it was lost) the key would still name us;
            // an unticked type must not stay ours, so it is cleared.
            classesroot::Root& root = tool_.ClassesRoot();
            if (root.ReadValue(ext, "").value_or("") == PROG_ID)
                root.WriteValue(ext, "", "");
        }
        for (int g : group) {
            rows_[static_cast<size_t>(g)].Registered = wanted;
            done[static_cast<size_t>(g)] = true;
        }
    }
    if (n > 0) {
        std::string program = ProgramFile();
        tool_.RegisterProgId(PROG_ID, program + ",0", "QRVE Media File", program);
    }
    int m = n;
    for (const TExt& row : rows_)
        m += row.Registered ? 1 : 0;
    if (m == 0)
        tool_.DeleteClassKey(PROG_ID);
}

std::string TExtentions::ProgramFile() {
    char buf[PATH_MAX];
    ssize_t len = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    return len > 0 ? std::string(buf, static_cast<size_t>(len)) : std::string("zarnplayer");
}

std::string_view ExtensionOf(std::string_view fileName) {
    size_t slash = fileName.find_last_of('/');
    size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
        return {};
    return fileName.substr(dot);
}

bool TExtentions::Matches(std::string_view fileName) const {
    std::string ext(ExtensionOf(fileName));
    if (ext.empty())
        return false;
    for (const TExt& row : rows_)
        if (strcasecmp(ext.c_str(), row.Extension.c_str()) == 0)
            return true;
    return false;
}

std::string TExtentions::Filter() {
    std::string more;
    for (size_t i = kOriginalRows; i < std::size(kRows); ++i)
        more += std::string(i > kOriginalRows ? "; *" : "*") + kRows[i].ext;
    return "Video Files (*.avi; *.qt; *.mov; *.mpg; *.mpeg; *.m1v)|"
           "*.avi; *.qt; *.mov; *.mpg; *.mpeg; *.m1v|"
           "Audio files (*.wav; *.mpa; *.mp2; *.mp3; *.au; *.aif; *.aiff; *.snd)|"
           "*.wav; *.mpa; *.mp2; *.mp3; *.au; *.aif; *.aiff; *.snd|"
           "WMT Files (*.asf; *.wma; *.wmv)|*.asf; *.wma; *.wmv|" +
           std::string(kMoreLabel) + " (" + more + ")|" + more + "|All Files (*.*)|*.*;";
}

std::vector<std::string> TExtentions::FilterChoices() {
    // Every second field of the filter is a label; its patterns follow it.
    std::vector<std::string> fields;
    std::string text = Filter();
    size_t from = 0, bar;
    while ((bar = text.find('|', from)) != std::string::npos) {
        fields.push_back(text.substr(from, bar - from));
        from = bar + 1;
    }
    fields.push_back(text.substr(from));
    std::vector<std::string> choices;
    for (size_t i = 0; i + 1 < fields.size(); i += 2) {
        std::string label = fields[i].substr(0, fields[i].find(" ("));
        std::string patterns;
        for (char c : fields[i + 1]) {
            if (c == ';')
                continue;
            patterns += c;
        }
        while (!patterns.empty() && patterns.back() == ' ')
            patterns.pop_back();
        choices.push_back(label + " (" + patterns + ")");
    }
    return choices;
}

TExtentions& Extentions() {
    static TExtentions table;
    return table;
}
