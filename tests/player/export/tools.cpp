#include "tools.h"

#include "tests/support/Files.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace exporttest {

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

int Shell(const std::string& command) {
    const int rc = std::system(command.c_str());
    if (rc == -1)
        return -1;
    if (WIFSIGNALED(rc))
        return 128 + WTERMSIG(rc);
    return WEXITSTATUS(rc);
}

std::string CliPath() {
    const char* build = std::getenv("ZARN_BUILD_DIR");
    return std::string(build ? build : ".") + "/tests/zarn_export_cli";
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

std::vector<std::string> List(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec))
        names.push_back(e.path().filename().string());
    return names;
}

Result Export(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    const zarntest::TempDir folder("export-run");
    const std::string out = folder / "stdout", err = folder / "stderr";
    // Bounded, so that an export that never ends fails its test.
    std::string cmd = "timeout 120 env";
    for (const std::string& e : env)
        cmd += " " + Quote(e);
    cmd += " " + Quote(CliPath()) + " --export";
    for (const std::string& a : args)
        cmd += " " + Quote(a);
    cmd += " >" + Quote(out) + " 2>" + Quote(err) + " </dev/null";
    Result r;
    r.status = Shell(cmd);
    r.out = ReadFile(out);
    r.err = ReadFile(err);
    return r;
}

namespace {

GstPadProbeReturn OnTags(GstPad*, GstPadProbeInfo* info, gpointer data) {
    GstEvent* e = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(e) != GST_EVENT_TAG)
        return GST_PAD_PROBE_OK;
    auto* tags = static_cast<std::map<std::string, std::string>*>(data);
    GstTagList* list = nullptr;
    gst_event_parse_tag(e, &list);
    for (const char* tag : {GST_TAG_TITLE, GST_TAG_ARTIST}) {
        gchar* v = nullptr;
        if (gst_tag_list_get_string(list, tag, &v) && v)
            (*tags)[tag] = v;
        g_free(v);
    }
    return GST_PAD_PROBE_OK;
}

} // namespace

Decoded Decode(const std::string& path) {
    Decoded d;
    gst_init(nullptr, nullptr);
    gchar* uri = gst_filename_to_uri(path.c_str(), nullptr);
    const std::string description =
        std::string("uridecodebin uri=\"") + uri +
        "\" ! audioconvert ! audio/x-raw,format=F32LE,channels=1 ! appsink name=sink sync=false";
    g_free(uri);
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    if (!pipeline) {
        d.error = error ? error->message : "cannot build";
        g_clear_error(&error);
        return d;
    }
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    GstPad* pad = gst_element_get_static_pad(sink, "sink");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, OnTags, &d.tags, nullptr);
    gst_object_unref(pad);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    for (;;) {
        GstSample* s = gst_app_sink_pull_sample(GST_APP_SINK(sink));
        if (!s)
            break;
        GstCaps* caps = gst_sample_get_caps(s);
        gst_structure_get_int(gst_caps_get_structure(caps, 0), "rate", &d.rate);
        GstBuffer* b = gst_sample_get_buffer(s);
        GstMapInfo map;
        gst_buffer_map(b, &map, GST_MAP_READ);
        const auto* f = reinterpret_cast<const float*>(map.data);
        d.samples.insert(d.samples.end(), f, f + map.size / sizeof(float));
        gst_buffer_unmap(b, &map);
        gst_sample_unref(s);
    }
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* m = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
    if (m) {
        gst_message_parse_error(m, &error, nullptr);
        d.error = error ? error->message : "error";
        g_clear_error(&error);
        gst_message_unref(m);
    }
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    d.ok = d.error.empty() && d.rate > 0;
    return d;
}

double ToneFrequency(const Decoded& d, double from, double to) {
    const auto a = static_cast<std::size_t>(from * d.rate);
    const auto b = std::min(d.samples.size(), static_cast<std::size_t>(to * d.rate));
    std::size_t first = 0, last = 0;
    int crossings = 0;
    for (std::size_t i = a + 1; i < b; ++i) {
        if (d.samples[i - 1] < 0 && d.samples[i] >= 0) {
            if (crossings == 0)
                first = i;
            last = i;
            ++crossings;
        }
    }
    if (crossings < 2)
        return 0;
    return (crossings - 1) * static_cast<double>(d.rate) / static_cast<double>(last - first);
}

} // namespace exporttest
