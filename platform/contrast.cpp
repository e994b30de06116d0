#include "platform/contrast.h"

#include "platform/sessionbus.h"

#include <gio/gio.h>

namespace contrast {

namespace {

constexpr const char* A11ySchema = "org.gnome.desktop.a11y.interface";
constexpr const char* InterfaceSchema = "org.gnome.desktop.interface";

// How long the session bus may take to accept the connection.
constexpr auto BusLimit = std::chrono::seconds(5);

} // namespace

// One schema's settings, with the schema kept to ask which keys it has:
// GSettings aborts on a key its schema lacks.
struct DesktopContrast::Settings {
    GSettingsSchema* schema = nullptr;
    GSettings* settings = nullptr;
    gulong handler = 0;

    // A key of the expected type, or nothing.
    bool Has(const char* key, const GVariantType* type) const {
        if (!g_settings_schema_has_key(schema, key))
            return false;
        GSettingsSchemaKey* k = g_settings_schema_get_key(schema, key);
        const bool same = g_variant_type_equal(g_settings_schema_key_get_value_type(k), type);
        g_settings_schema_key_unref(k);
        return same;
    }
    bool Flag(const char* key) const {
        return Has(key, G_VARIANT_TYPE_BOOLEAN) && g_settings_get_boolean(settings, key);
    }
    std::string Text(const char* key) const {
        if (!Has(key, G_VARIANT_TYPE_STRING))
            return {};
        gchar* value = g_settings_get_string(settings, key);
        std::string out = value ? value : "";
        g_free(value);
        return out;
    }

    // The schema's settings; nothing where the schema is not installed.
    // The settings of a schema found (taking it over); nothing without one.
    static std::unique_ptr<Settings> Open(GSettingsSchema* schema) {
        if (!schema)
            return nullptr;
        auto s = std::make_unique<Settings>();
        s->schema = schema;
        s->settings = g_settings_new_full(schema, nullptr, nullptr);
        return s;
    }
    ~Settings() {
        if (handler)
            g_signal_handler_disconnect(settings, handler);
        g_object_unref(settings);
        g_settings_schema_unref(schema);
    }
};

DesktopContrast::DesktopContrast(Changed changed, const std::string& schemaDir)
    : changed_(std::move(changed)) {
    GSettingsSchemaSource* source = nullptr;
    if (schemaDir.empty()) {
        source = g_settings_schema_source_get_default();
        if (source)
            g_settings_schema_source_ref(source);
    } else {
        source =
            g_settings_schema_source_new_from_directory(schemaDir.c_str(), nullptr, FALSE, nullptr);
    }
    const auto lookup = [source](const char* id) {
        return source ? g_settings_schema_source_lookup(source, id, TRUE) : nullptr;
    };
    GSettingsSchema* a11y = lookup(A11ySchema);
    GSettingsSchema* interface = lookup(InterfaceSchema);
    // Before the settings exist: their backend opens its connection from a
    // thread of its own.
    if ((a11y || interface) && sessionbus::Announced())
        bus_ = std::make_unique<sessionbus::Request>(
            nullptr, BusLimit, "changes of the desktop's high contrast may go unseen");
    a11y_ = Settings::Open(a11y);
    interface_ = Settings::Open(interface);
    if (source)
        g_settings_schema_source_unref(source);
    for (Settings* s : {a11y_.get(), interface_.get()})
        if (s)
            s->handler = g_signal_connect(s->settings, "changed", G_CALLBACK(OnChanged), this);
    current_ = Read();
}

DesktopContrast::~DesktopContrast() = default;

Scheme DesktopContrast::Read() const {
    const bool switched = a11y_ && a11y_->Flag("high-contrast");
    const std::string theme = interface_ ? interface_->Text("gtk-theme") : std::string();
    // The inverse theme is light on dark; the accessibility switch follows
    // the desktop's dark style where one is chosen.
    if (theme == "HighContrastInverse")
        return Scheme::Dark;
    if (!switched && theme != "HighContrast")
        return Scheme::Off;
    const bool dark = interface_ && interface_->Text("color-scheme") == "prefer-dark";
    return dark ? Scheme::Dark : Scheme::Light;
}

void DesktopContrast::Reread() {
    const Scheme now = Read();
    if (now == current_)
        return;
    current_ = now;
    if (changed_)
        changed_(now);
}

void DesktopContrast::OnChanged(void*, char*, void* self) {
    static_cast<DesktopContrast*>(self)->Reread();
}

} // namespace contrast
