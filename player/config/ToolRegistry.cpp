// The settings store's association operations on the classes root.
#include "player/config/Tool.h"

#include "platform/classesroot/xdg.h"

namespace {
constexpr const char* kBackup = "QRVE_Back";
}

classesroot::Root& TTool::ClassesRoot() {
    if (root_)
        return *root_;
    if (!desktopRoot_) {
        std::string dir = fileName_.substr(0, fileName_.rfind('/') + 1);
        desktopRoot_ = std::make_unique<classesroot::XdgRoot>(
            classesroot::XdgPlaces::FromEnvironment(dir + "associations.ini"));
    }
    return *desktopRoot_;
}

void TTool::AssociateExtension(std::string_view extension, std::string_view progId) {
    classesroot::Root& root = ClassesRoot();
    root.CreateKey(extension);
    std::string old = root.ReadValue(extension, "").value_or("");
    if (old == progId)
        return;
    // The backup goes first: a refused second write leaves the old default
    // in place with a backup that matches it.
    root.WriteValue(extension, kBackup, old);
    root.WriteValue(extension, "", progId);
}

void TTool::RestoreExtension(std::string_view extension) {
    classesroot::Root& root = ClassesRoot();
    if (!root.KeyExists(extension))
        return;
    auto back = root.ReadValue(extension, kBackup);
    if (!back)
        return;
    root.WriteValue(extension, "", *back);
    root.DeleteValue(extension, kBackup);
}

void TTool::RegisterProgId(std::string_view progId, std::string_view icon,
                           std::string_view description, std::string_view program) {
    classesroot::Root& root = ClassesRoot();
    std::string key(progId);
    root.WriteValue(key, "", description);
    root.WriteValue(key + "\\DefaultIcon", "", icon);
    root.WriteValue(key + "\\shell\\open\\command", "", std::string(program) + " \"%1\"");
    root.NotifyAssociationsChanged();
}

void TTool::DeleteClassKey(std::string_view key) {
    classesroot::Root& root = ClassesRoot();
    if (!root.KeyExists(key))
        return;
    root.DeleteKey(key);
    root.NotifyAssociationsChanged();
}
